#pragma once

#include <vector>

#include "text/String.h"

// One key of a launcher configuration file with the values of all its lines.
struct ConfigEntry {
    // The key as spelled where it first appeared.
    stdx::u16string m_key;
    // In the order in which they were added; no two equal without regard to
    // case when the list was built by the reader.
    std::vector<stdx::u16string> m_values;
};

// The entries of one configuration file, in the order in which their keys
// first appeared. Keys and values are compared with CompareNoCase.
using ConfigList = std::vector<ConfigEntry>;

// Adds one value to a key, appending a new entry when no entry has that key.
// Returns false (and changes nothing) when an entry with that key already
// holds an equal value; true when the value was added.
bool AddValue(ConfigList& list, const stdx::u16string& key, const stdx::u16string& value);

// Makes `values` the values of the first entry whose key equals `key`; that
// entry keeps its place and spelling. Empty `values` remove the entry. When
// no entry has the key, a new one is appended (unless `values` is empty).
void SetValues(ConfigList& list, const stdx::u16string& key,
               const std::vector<stdx::u16string>& values);

// The values of the first entry whose key equals `key`, or null when there is
// none. The pointer is valid until the list changes.
const std::vector<stdx::u16string>* FindValues(const ConfigList& list, const stdx::u16string& key);
