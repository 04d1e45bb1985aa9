#!/usr/bin/env bash
# Marrowby's benchmarks, each beside its peer in the same run:
#
#   bench/run.sh [SECTION...]      every section when none is named
#
#   scan    the --scan path in-process against a gumbo link extractor, on the
#           HTML pages under /usr/share/doc (python3-doc is installed when
#           they come to less than 25 MB)
#   linear  the scan on 1, 10 and 50 MB pages made of those pages
#   memory  peak memory of marrowby --scan on a 64 MiB page of 4.5 million
#           links, and what each record adds to it; then the same of whole
#           headless crawls, of such a page and of generated sites, from nginx
#           (bench/crawl.sh memory)
#   crawl   marrowby --headless --delay 0 against wget --spider -r and
#           linkchecker (one thread, no wait) on one nginx: a generated site
#           of 1,000 pages and 2,000 objects and Debian's Python documentation;
#           then the window's heartbeat during a slow crawl (bench/crawl.sh)
#   external  a generated site of 1,000 pages whose links lead to 2,000
#           addresses on 100 loopback hosts that answer after 50 ms
#           (bench/slow_hosts.py, which counts the transfers in flight on each):
#           marrowby against linkinator --recurse and linkchecker
#           --check-extern, then the window's heartbeat during that check
#           (HOSTS_LAYOUT=spread: every link on the next host)
#   large   a generated site of 100,000 pages (150,002 addresses) from nginx:
#           marrowby and wget against one curl fetching every address once
#
# Installs what it needs, builds only the targets it runs (in $BUILD, default
# build/), prints a table, and ends with KEY=VALUE lines. Speeds are MB/s of
# CPU time, best of $REPEATS passes (default 5): the machine is shared, and
# wall time would count the neighbours' share too.
#
# A new benchmark is a function section_NAME that calls build_targets for
# what it runs, row for each line of the table and result for each KEY=VALUE,
# and is listed in SECTIONS.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$root/build}
REPEATS=${REPEATS:-5}
work="$BUILD/bench-work"
SECTIONS=(scan linear memory crawl external large)

# --------------------------------------------------------------- common helpers

# need_packages PACKAGE...: installs the Debian packages that are missing.
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "bench: installing ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

configured=""
# build_targets TARGET...: configures $BUILD once and builds these targets.
build_targets() {
  if [ -z "$configured" ]; then
    cmake -S "$root" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARROWBY_BENCH=ON >/dev/null
    configured=yes
  fi
  cmake --build "$BUILD" -j"$(nproc)" --target "$@" >&2
}

TABLE=()
KEYS=()
declare -A VALUES
# row BENCHMARK MARROWBY PEER TARGET VERDICT: one line of the table.
row() { TABLE+=("$1|$2|$3|$4|$5"); }
# result KEY VALUE: one of the closing KEY=VALUE lines.
result() {
  [ -n "${VALUES[$1]+set}" ] || KEYS+=("$1")
  VALUES[$1]=$2
}
# read_results COMMAND...: runs a command that prints KEY=VALUE lines and
# keeps them in OUT[KEY].
declare -A OUT
read_results() {
  local line
  OUT=()
  while IFS= read -r line; do
    [[ $line == *=* ]] && OUT[${line%%=*}]=${line#*=}
  done < <("$@")
}
# at_least VALUE LIMIT / at_most VALUE LIMIT: "met" or "MISSED".
at_least() { awk -v v="$1" -v l="$2" 'BEGIN { print (v >= l ? "met" : "MISSED") }'; }
at_most() { awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l ? "met" : "MISSED") }'; }

print_table() {
  local widths=(9 8 4 6 7) line i cells
  for line in "${TABLE[@]}"; do
    IFS='|' read -r -a cells <<<"$line"
    for i in "${!cells[@]}"; do
      [ ${#cells[i]} -gt "${widths[i]}" ] && widths[i]=${#cells[i]}
    done
  done
  local format="%-${widths[0]}s | %${widths[1]}s | %${widths[2]}s | %-${widths[3]}s | %s\n"
  # shellcheck disable=SC2059
  printf "$format" Benchmark Marrowby Peer Target Verdict
  printf '%s\n' "$(printf '%*s' $((widths[0] + widths[1] + widths[2] + widths[3] + widths[4] + 12)) '' | tr ' ' -)"
  for line in "${TABLE[@]}"; do
    IFS='|' read -r -a cells <<<"$line"
    # shellcheck disable=SC2059
    printf "$format" "${cells[@]}"
  done
}

# ------------------------------------------------------------------- the scan

corpus_list="$work/corpus.txt"
# The HTML pages under /usr/share/doc, at least 25 MB of them.
make_corpus() {
  [ -s "$corpus_list" ] && return 0
  mkdir -p "$work"
  local bytes
  for attempt in 1 2; do
    find /usr/share/doc -type f \( -name '*.html' -o -name '*.htm' \) | LC_ALL=C sort >"$corpus_list"
    bytes=$(tr '\n' '\0' <"$corpus_list" | xargs -0 -r stat -c %s | awk '{ s += $1 } END { print s + 0 }')
    [ "$bytes" -ge 25000000 ] && return 0
    [ $attempt -eq 1 ] && need_packages python3-doc
  done
  echo "bench: only $bytes bytes of HTML under /usr/share/doc" >&2
  return 1
}

section_scan() {
  need_packages libgumbo-dev pkg-config
  build_targets bench_scan
  make_corpus
  read_results "$BUILD/bench/bench_scan" corpus "$corpus_list" "$REPEATS"
  local mb=$((OUT[bytes] / 1000000))
  result corpus_pages "${OUT[pages]}"
  result corpus_bytes "${OUT[bytes]}"
  result scan_mb_per_s "${OUT[scan_mb_per_s]}"
  result gumbo_mb_per_s "${OUT[gumbo_mb_per_s]}"
  result scan_vs_gumbo "${OUT[scan_vs_gumbo]}"
  row "--scan path in-process, ${OUT[pages]} pages, $mb MB (MB/s)" "${OUT[scan_mb_per_s]}" \
    "${OUT[gumbo_mb_per_s]}" ">= 600" "$(at_least "${OUT[scan_mb_per_s]}" 600)"
  row "  the same, against gumbo (times faster)" "${OUT[scan_vs_gumbo]}" "1" ">= 30" \
    "$(at_least "${OUT[scan_vs_gumbo]}" 30)"
}

section_linear() {
  need_packages libgumbo-dev pkg-config
  build_targets bench_scan marrowby
  make_corpus
  read_results "$BUILD/bench/bench_scan" linear "$corpus_list" 1 10 50 -r "$REPEATS"
  local size speeds=()
  for size in 1 10 50; do
    speeds+=("${OUT[linear_${size}mb_mb_per_s]}")
    result "linear_${size}mb_mb_per_s" "${OUT[linear_${size}mb_mb_per_s]}"
  done
  local spread
  spread=$(printf '%s\n' "${speeds[@]}" | awk 'NR == 1 { lo = hi = $1 } { if ($1 < lo) lo = $1; if ($1 > hi) hi = $1 } END { printf "%.1f", (hi - lo) * 100 / hi }')
  result linear_spread_pct "$spread"
  row "scan of one page, 1 / 10 / 50 MB (MB/s)" "${speeds[0]} / ${speeds[1]} / ${speeds[2]}" "" \
    "within 20%" "$(at_most "$spread" 20) ($spread%)"

  # The program as a whole, from reading the 50 MB page to writing its CSV.
  need_packages time
  local page="$work/page50.html"
  [ -s "$page" ] || "$BUILD/bench/bench_scan" write "$corpus_list" 50 "$page"
  local best=""
  for _ in 1 2 3; do
    local cpu
    cpu=$(/usr/bin/time -f '%U %S' "$BUILD/app/marrowby" --scan "$page" --base http://docs.example/big/page.html \
      2>&1 >/dev/null | tail -1 | awk '{ print $1 + $2 }')
    best=$(awk -v a="$best" -v b="$cpu" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  local process
  process=$(awk -v s="$(stat -c %s "$page")" -v t="$best" 'BEGIN { printf "%.1f", s / 1e6 / t }')
  result scan_process_mb_per_s "$process"
  row "marrowby --scan, whole process, 50 MB page (MB/s)" "$process" "" "" ""
}

# links_page FILE LINKS ADDRESSES: a 64 MiB page of LINKS links (two anchors
# to one image) to ADDRESSES distinct addresses, eight links a line.
links_page() {
  perl -e '
    my ($links, $addresses) = @ARGV;
    my $size = 64 * 1024 * 1024;
    my ($line, $written) = ("", 0);
    sub id { my $n = shift; my $s = ""; do { $s = substr("0123456789abcdefghijklmnopqrstuvwxyz", $n % 36, 1) . $s; $n = int($n / 36) } while ($n > 0); $s }
    for my $i (0 .. $links - 1) {
      my $k = $i % $addresses;
      $line .= $k % 3 == 2 ? "<img src=" . id($k) . ">" : "<a href=" . id($k) . ">";
      if ($i % 8 == 7 || $i == $links - 1) {
        $line .= " " x (118 - length $line) if length $line < 118;
        print $line, "\n";
        $written += length($line) + 1;
        $line = "";
      }
    }
    die "page too big\n" if $written > $size;
    print " " x ($size - $written);
  ' "$2" "$3" >"$1"
}

# scan_peak FILE: "peak-KiB records" of marrowby --scan on the file.
scan_peak() {
  local csv="$work/peak.csv" peak
  peak=$(/usr/bin/time -f '%M' "$BUILD/app/marrowby" --scan "$1" --base http://host/d/p.html 2>&1 >"$csv" | tail -1)
  echo "$peak $(($(wc -l <"$csv") - 1))"
}

section_memory() {
  need_packages time perl
  build_targets marrowby
  mkdir -p "$work"
  local many="$work/links-450k.html" few="$work/links-45k.html"
  [ -s "$many" ] || links_page "$many" 4500000 450000
  [ -s "$few" ] || links_page "$few" 4500000 45000
  local peakMany recordsMany peakFew recordsFew
  read -r peakMany recordsMany < <(scan_peak "$many")
  read -r peakFew recordsFew < <(scan_peak "$few")
  local mib perRecord
  mib=$(awk -v k="$peakMany" 'BEGIN { printf "%.1f", k / 1024 }')
  perRecord=$(awk -v a="$peakMany" -v b="$peakFew" -v n="$recordsMany" -v m="$recordsFew" \
    'BEGIN { printf "%.0f", (a - b) * 1024 / (n - m) }')
  result scan_peak_mib "$mib"
  result scan_records "$recordsMany"
  result scan_bytes_per_record "$perRecord"
  row "marrowby --scan peak, 64 MiB page, 4.5M links, $recordsMany addresses (MiB)" "$mib" "" \
    "<= 400" "$(at_most "$mib" 400)"
  row "  what one more address adds to it (bytes)" "$perRecord" "" "<= 300" "$(at_most "$perRecord" 300)"

  read_results "$root/bench/crawl.sh" "$BUILD" memory
  local key
  for key in memory_page_peak_mib memory_page_bytes_per_record memory_site_peak_mib \
    memory_site_bytes_per_record; do
    result "$key" "${OUT[$key]}"
  done
  row "crawl of that page, merged, reports written: peak (MiB)" "${OUT[memory_page_peak_mib]}" "" \
    "<= 400" "$(at_most "${OUT[memory_page_peak_mib]}" 400)"
  row "  what one more record adds to it (bytes)" "${OUT[memory_page_bytes_per_record]}" "" \
    "<= 300" "$(at_most "${OUT[memory_page_bytes_per_record]}" 300)"
  row "crawl of a generated site, ${OUT[memory_site_records]} records: peak (MiB)" \
    "${OUT[memory_site_peak_mib]}" "" "" ""
  row "  what one more record adds to it (bytes)" "${OUT[memory_site_bytes_per_record]}" "" \
    "<= 300" "$(at_most "${OUT[memory_site_bytes_per_record]}" 300)"
}

# ------------------------------------------------------------------ the crawl

section_crawl() {
  build_targets marrowby bench_heartbeat
  read_results "$root/bench/crawl.sh" "$BUILD"
  local site m w l
  for site in generated python_docs; do
    m=${OUT[crawl_${site}_marrowby_s]} w=${OUT[crawl_${site}_wget_s]} l=${OUT[crawl_${site}_linkchecker_s]}
    result "crawl_${site}_pages" "${OUT[crawl_${site}_pages]}"
    result "crawl_${site}_marrowby_s" "$m"
    result "crawl_${site}_wget_s" "$w"
    result "crawl_${site}_linkchecker_s" "$l"
    row "crawl $site, ${OUT[crawl_${site}_pages]} pages: vs wget (s)" "$(printf %.2f "$m")" \
      "$(printf %.2f "$w")" "<= 1.5x wget" "$(at_most "$m" "$(echo "$w * 1.5" | bc)")"
    row "  the same, vs linkchecker (s)" "$(printf %.2f "$m")" "$(printf %.2f "$l")" \
      ">= 10x faster" "$(at_most "$(echo "$m * 10" | bc)" "$l")"
  done
  result heartbeat_max_gap_ms "${OUT[heartbeat_max_gap_ms]}"
  row "window heartbeat, largest gap (ms)" "${OUT[heartbeat_max_gap_ms]}" "" "<= 50" \
    "$(at_most "${OUT[heartbeat_max_gap_ms]}" 50)"
}

# ---------------------------------------------------- links to other sites

# ratio A B: A / B, two decimals (0 when B is 0).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

section_external() {
  build_targets marrowby bench_heartbeat
  read_results "$root/bench/crawl.sh" "$BUILD" external
  local tool key
  for tool in marrowby marrowby_c100 linkinator linkchecker; do
    for key in s requests robots_requests addresses peak peak_connections peak_hosts; do
      result "external_${tool}_$key" "${OUT[external_${tool}_$key]:-}"
    done
  done
  result external_marrowby_rows "${OUT[external_marrowby_rows]:-}"
  result external_heartbeat_max_gap_ms "${OUT[external_heartbeat_max_gap_ms]:-}"
  result external_heartbeat_addresses "${OUT[external_heartbeat_addresses]:-}"
  result external_heartbeat_peak "${OUT[external_heartbeat_peak]:-}"

  local m=${OUT[external_marrowby_s]} k=${OUT[external_linkinator_s]} l=${OUT[external_linkchecker_s]}
  local fastest=$k peer=linkinator
  [ "$(at_most "$l" "$k")" = met ] && fastest=$l peer=linkchecker
  # A run that asked the hosts for fewer than the 2,000 addresses did not do the work.
  local done=met
  [ "${OUT[external_marrowby_addresses]}" -ge 2000 ] || done="MISSED (${OUT[external_marrowby_addresses]} of 2000 asked)"
  local verdict peakVerdict
  verdict="$(at_most "$m" "$(echo "$fastest * 1.5" | bc)") ($(ratio "$m" "$fastest")x)"
  peakVerdict=$(at_most "${OUT[external_marrowby_peak]}" 2)
  if [ "$done" != met ]; then
    verdict=$done
    peakVerdict="(nothing asked)"
  fi
  row "1,000 pages linking to 2,000 addresses on 100 hosts (50 ms each): vs $peer (s)" \
    "$(printf %.2f "$m")" "$(printf %.2f "$fastest")" "<= 1.5x fastest" "$verdict"
  row "  vs linkinator --recurse (s)" "$(printf %.2f "$m")" "$(printf %.2f "$k")" "" ""
  if [ -n "${OUT[external_marrowby_c100_s]:-}" ]; then
    row "  marrowby --connections 100 (linkinator's 100), and most at once on a host" \
      "$(printf %.2f "${OUT[external_marrowby_c100_s]}")" "$(printf %.2f "$k")" "" \
      "${OUT[external_marrowby_c100_peak]} a host, ${OUT[external_marrowby_c100_addresses]} asked"
  fi
  row "  vs linkchecker --check-extern (s)" "$(printf %.2f "$m")" "$(printf %.2f "$l")" "" ""
  row "  addresses asked of the hosts: linkinator / linkchecker" "${OUT[external_marrowby_addresses]}" \
    "${OUT[external_linkinator_addresses]} / ${OUT[external_linkchecker_addresses]}" "2000" "$done"
  row "  most transfers at once on one host: linkinator / linkchecker" "${OUT[external_marrowby_peak]}" \
    "${OUT[external_linkinator_peak]} / ${OUT[external_linkchecker_peak]}" "<= 2 (--per-host)" \
    "$peakVerdict"
  if [ -n "${OUT[external_heartbeat_max_gap_ms]:-}" ]; then
    row "window heartbeat during that check, largest gap (ms)" "${OUT[external_heartbeat_max_gap_ms]}" "" \
      "<= 50" "$(at_most "${OUT[external_heartbeat_max_gap_ms]}" 50)"
  fi
}

# ------------------------------------------------------------- a large site

section_large() {
  build_targets marrowby
  read_results "$root/bench/crawl.sh" "$BUILD" large
  local key
  for key in large_addresses large_curl_transfers large_curl_connections large_curl_s \
    large_marrowby_rows large_marrowby_s large_wget_s; do
    result "$key" "${OUT[$key]}"
  done
  local m=${OUT[large_marrowby_s]} f=${OUT[large_curl_s]} w=${OUT[large_wget_s]}
  row "100,000 pages, ${OUT[large_addresses]} addresses: vs one curl fetching each once (s)" \
    "$(printf %.2f "$m")" "$(printf %.2f "$f")" "<= 2x curl" \
    "$(at_most "$m" "$(echo "$f * 2" | bc)") ($(ratio "$m" "$f")x)"
  row "  the same, vs wget --spider -r (s)" "$(printf %.2f "$m")" "$(printf %.2f "$w")" "" ""
  row "  addresses found: curl's list" "${OUT[large_marrowby_rows]}" "${OUT[large_curl_transfers]}" \
    "equal" "$([ "${OUT[large_marrowby_rows]}" = "${OUT[large_curl_transfers]}" ] && echo met || echo MISSED)"
}

# ------------------------------------------------------------------------ run

"$root/scripts/setup.sh" >&2
run=("$@")
[ ${#run[@]} -eq 0 ] && run=("${SECTIONS[@]}")
for section in "${run[@]}"; do
  if ! declare -F "section_$section" >/dev/null; then
    echo "bench: no section \"$section\" (sections: ${SECTIONS[*]})" >&2
    exit 2
  fi
  echo "bench: $section" >&2
  "section_$section"
done

echo
print_table
echo
for key in "${KEYS[@]}"; do
  echo "$key=${VALUES[$key]}"
done
