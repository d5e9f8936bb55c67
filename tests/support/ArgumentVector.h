#pragma once

#include <string>
#include <vector>

namespace test_support {

// The C strings of `strings` followed by a null pointer, as argv and envp
// take them. Points into `strings`, which must outlive the result unchanged.
inline std::vector<char*> NullTerminated(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace test_support
