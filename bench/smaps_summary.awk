# Sums a /proc/PID/smaps file by kind of mapping, in KiB: Rss, Pss, and the
# private and shared, clean and dirty parts. With -v top=N, the N mappings
# of most Rss follow. Used by window_memory.sh.
#   anon      anonymous mappings (thread arenas, large allocations, stacks
#             of threads other than the main one)
#   heap      the main heap
#   lib       shared objects and the program itself (text, data, relocations)
#   font      font files; fc-cache: fontconfig's cache files
#   shm       X shared memory and other shared-memory objects
#   locale    locale archive and character-set modules
function kind(name) {
    if (name == "") return "anon";
    if (name == "[heap]") return "heap";
    if (name ~ /^\[stack/) return "stack";
    if (name ~ /^\[(vdso|vvar|vsyscall)/) return "vdso";
    if (name ~ /SYSV|\/dev\/shm|memfd:/) return "shm";
    if (name ~ /\.(ttf|otf|ttc|pfb|pfa|TTF|OTF|TTC)$/) return "font";
    if (name ~ /fontconfig/ || name ~ /\.cache-[0-9]+$/) return "fc-cache";
    if (name ~ /\/locale\// || name ~ /locale-archive/ || name ~ /gconv/) return "locale";
    if (name ~ /\.so[.0-9]*( \(deleted\))?$/ || name ~ /\/Setup$/ || name ~ /\.bundle\//) return "lib";
    return "file";
}
/^[0-9a-f]+-[0-9a-f]+ / {
    name = "";
    for (i = 6; i <= NF; i++) name = name (i > 6 ? " " : "") $i;
    k = kind(name); cur = name; next
}
/^Rss:/ { rss[k] += $2; byname[k "\t" cur] += $2; total += $2 }
/^Pss:/ { pss[k] += $2 }
/^Private_Clean:/ { pc[k] += $2 }
/^Private_Dirty:/ { pd[k] += $2; pdname[k "\t" cur] += $2 }
/^Shared_Clean:/ { sc[k] += $2 }
/^Shared_Dirty:/ { sd[k] += $2 }
END {
    printf "%-9s %8s %8s %8s %8s %8s %8s\n", "kind", "Rss", "Pss", "PrivCln", "PrivDty", "ShrCln", "ShrDty";
    for (k in rss) printf "%-9s %8d %8d %8d %8d %8d %8d\n", k, rss[k], pss[k], pc[k], pd[k], sc[k], sd[k] | "sort -k2 -nr";
    close("sort -k2 -nr");
    printf "%-9s %8d\n", "total", total;
    if (top > 0) {
        print "largest mappings: Rss, Private_Dirty (KiB), kind, path";
        for (key in byname) printf "%8d %8d  %s\n", byname[key], pdname[key], key | "sort -nr | head -" top;
        close("sort -nr | head -" top);
    }
}
