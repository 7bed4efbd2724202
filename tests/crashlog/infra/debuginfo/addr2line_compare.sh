#!/usr/bin/env bash
# Compares the program's own address lookup (its ELDATA debug information, under Wine) with what
# addr2line, and llvm-symbolizer as a second opinion, say about the same addresses in the
# unstripped build.
#
#   addr2line_compare.sh SAMPLE.exe WORKDIR [MINIMUM]
#
# SAMPLE.exe is a program built with pelloran_add_eldata (its unstripped twin is SAMPLE.exe.debug)
# that answers "SAMPLE.exe locate FILE". Addresses: four inside every function symbol of the
# program. Fails when fewer than MINIMUM (default 1000) addresses with a source line were compared,
# or when any address disagrees with both references.
set -euo pipefail
exe=$1
work=$2
minimum=${3:-1000}
debug=$exe.debug
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../../../scripts/wine-run.sh
mkdir -p "$work"
cd "$work"

# Four addresses inside each function: start, a third, two thirds, last byte.
i686-w64-mingw32-nm -n --defined-only "$debug" | awk '$2 == "T" || $2 == "t" { print $1 }' | uniq > symbols.txt
awk 'function hex(s,  i, c, v) { v = 0; s = tolower(s)
       for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", substr(s, i, 1)) - 1; v = v * 16 + c }
       return v }
     NR > 1 { a = hex(prev); b = hex($1); n = b - a
              if (n > 0 && n <= 65536) {
                printf "%08x\n%08x\n%08x\n%08x\n", a, a + int(n / 3), a + int(2 * n / 3), b - 1 } }
     { prev = $1 }' symbols.txt | sort -u > addresses.txt

i686-w64-mingw32-addr2line -a -f -i -C -e "$debug" < addresses.txt > addr2line.txt
llvm-symbolizer --obj="$debug" --demangle < <(sed 's/^/0x/' addresses.txt) | c++filt > symbolizer.txt
"$run" "$exe" locate addresses.txt | tr -d '\r' > ours.txt

awk -F '\t' -v minimum="$minimum" '
function base(path) { sub(/.*[\/\\]/, "", path); return path }
function key(a) { a = tolower(a); sub(/^0x/, "", a); while (length(a) < 8) a = "0" a; return a }
# "file:line" or "file:line (discriminator n)" -> file, line ("?" unknown)
function split_location(text, parts) {
  sub(/ \(discriminator [0-9]+\)$/, "", text)
  n = match(text, /:[^:]*$/)
  parts["file"] = substr(text, 1, n - 1); parts["line"] = substr(text, n + 1)
  if (parts["line"] == "0") parts["line"] = "?"
}
function same(unit, line, ref_file, ref_line) {
  return ref_line != "?" && ref_file != "??" && line == ref_line && (unit == base(ref_file) || unit == base(ref_file) ".cpp")
}
BEGIN { index_ = 0 }
FILENAME == ARGV[1] {                      # addr2line: 0x..., then function / file:line pairs
  if ($0 ~ /^0x/) { current = key($0); state = 1; next }
  if (state == 1) { a2l_function[current] = $0; state = 2; next }
  if (state == 2) { split_location($0, p); a2l_file[current] = p["file"]; a2l_line[current] = p["line"]; state = 3 }
  next
}
FILENAME == ARGV[2] {                      # llvm-symbolizer: blocks per address, innermost first
  if ($0 == "") { block = 0; index_ += 1; next }
  block += 1
  if (block == 1) sym_function[index_] = $0
  if (block == 2) { text = $0; sub(/:[0-9]+$/, "", text); split_location(text, p); sym_file[index_] = p["file"]; sym_line[index_] = p["line"] }
  next
}
{                                          # ours: address kind unit class procedure line
  k = key($1); order[++count] = k
  kind[k] = $2; unit[k] = $3; klass[k] = $4; procedure[k] = $5; line[k] = ($6 == "0" ? "?" : $6)
  position[k] = count - 1
}
END {
  for (i = 1; i <= count; i++) {
    k = order[i]; j = position[k]
    known = (kind[k] == 4)
    ref_known = (a2l_line[k] != "?" && a2l_file[k] != "??")
    sym_known = (sym_line[j] != "?" && sym_file[j] != "??" && sym_file[j] != "")
    if (known && same(unit[k], line[k], a2l_file[k], a2l_line[k])) {
      c = "agrees with addr2line"; if (unit[k] != base(a2l_file[k])) c = "agrees, unit of an extension-less header gets .cpp"
    } else if (!ref_known && !sym_known && (!known || line[k] == "?")) c = "neither has a source line"
    else if (known && same(unit[k], line[k], sym_file[j], sym_line[j])) c = "addr2line differs, llvm-symbolizer agrees"
    else if (!ref_known && !sym_known && known) c = "only ours has a source line"
    else c = "UNEXPLAINED"
    category[c] += 1
    if (ref_known || known) compared += 1
    if (known && c != "UNEXPLAINED") {
      # What kind of code the address is in, and whether the procedure is the one llvm-symbolizer
      # names: the same name before its template arguments and parameter list (DWARF and the
      # demangler spell template arguments differently, and ours are cut to 127 characters).
      shape = "plain function"
      if (unit[k] !~ /\.(cpp|c)$/) shape = "code inlined from a header"
      else if (klass[k] ~ /</ || procedure[k] ~ /</) shape = "template code"
      else if (klass[k] != "") shape = "class method"
      else if (procedure[k] ~ /::/) shape = "function in a namespace"
      shapes[shape] += 1
      b = procedure[k]; cut = index(b, "<"); if (cut > 1) b = substr(b, 1, cut - 1)
      f = sym_function[j]; gsub(/\[abi:[a-z0-9]+\]/, "", f)
      # llvm-symbolizer falls back to COFF symbols for some: the bare name of a static function, a name
      # that lost its first underscore, or a mangled name it could not demangle.
      last = b; sub(/.*::/, "", last); bare = last; sub(/^_+/, "", bare); g = f; sub(/^_+/, "", g)
      if (b == "") names_unnamed += 1
      else if (g == bare || index(g, bare "(") == 1 || index(g, bare "<") == 1 ||
               (f ~ /^Z/ && index(f, length(last) last))) names_agree += 1
      else if (f == b || index(f, b "(") == 1 || index(f, b "<") == 1 || index(f, "::" b "(") || index(f, "::" b "<") ||
               index(f, " " b "(") || index(f, " " b "<")) names_agree += 1
      else {
        names_differ += 1
        if (names_shown++ < 5) name_examples = name_examples sprintf("    %s ours %s | llvm-symbolizer %s\n", k, procedure[k], substr(f, 1, 100))
      }
    }
    if (c != "agrees with addr2line" && c != "neither has a source line" && shown[c] < 5) {
      shown[c] += 1
      examples[c] = examples[c] sprintf("    %s ours %s:%s %s%s%s | addr2line %s:%s %s | llvm-symbolizer %s:%s\n",
        k, unit[k], line[k], klass[k], (klass[k] == "" ? "" : "::"), procedure[k],
        base(a2l_file[k]), a2l_line[k], a2l_function[k], base(sym_file[j]), sym_line[j])
    }
  }
  printf "addresses %d, with a source line in either %d\n", count, compared
  printf "  located by ours, by kind of code:"; for (sh in shapes) printf " %s %d;", sh, shapes[sh]; printf "\n"
  printf "  procedure as llvm-symbolizer names it: %d, no procedure in DWARF (padding): %d, otherwise: %d\n",
    names_agree, names_unnamed, names_differ
  printf "%s", name_examples
  for (c in category) { printf "  %-55s %6d\n", c, category[c]; printf "%s", examples[c] }
  if (compared < minimum) { printf "too few addresses with source lines (%d < %d)\n", compared, minimum; exit 1 }
  if (category["UNEXPLAINED"] > 0) exit 1
}' addr2line.txt symbolizer.txt ours.txt | tee summary.txt
