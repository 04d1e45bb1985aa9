#!/usr/bin/env bash
# Crawl benchmarks, side by side with their peers in one run: Marrowby
# (--headless --delay 0), wget --spider -r and linkchecker (one thread, no
# per-request wait), all against the same nginx on 127.0.0.1.
#   bench/crawl.sh BUILD_DIR [speed]   prints a table and KEY=VALUE lines
#   bench/crawl.sh BUILD_DIR memory    peak memory of whole crawls, KEY=VALUE
#   bench/crawl.sh BUILD_DIR site      --site against nginx on a 20,000-page folder
#   bench/crawl.sh BUILD_DIR external  links to 100 slow hosts, against linkinator
#                                      and linkchecker, and the window meanwhile
#   bench/crawl.sh BUILD_DIR large     a 100,000-page site against one curl
#   bench/crawl.sh BUILD_DIR keep      what keeping a crawl costs (--crawl-file):
#                                      10,000 and 100,000 pages, and --resume
#   bench/crawl.sh BUILD_DIR keep-million  a 1,000,000-page site, --crawl-file, beside the
#                                      10,000 pages without one (KEEP_MILLION_PLAIN=1: and
#                                      the million without one)
#   bench/crawl.sh BUILD_DIR keep-profile  heaptrack of the 100,000 pages with
#                                      --crawl-file: where the peak heap goes
# Sites: a generated one of 1,000 pages and 2,000 objects, and the Python
# documentation that Debian ships (python3.11-doc). Also the heartbeat of the
# window during a slow crawl (bench_heartbeat).
# Memory: one 64 MiB page of 4.5 million links, and generated sites of 2,000
# and 20,000 pages; what a record (page, object or link row) adds is the
# difference of two peaks over the difference of their records.
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d)
chmod 755 "$work"
bench=$(cd "$(dirname "$0")" && pwd)
trap 'hosts_stop; nginx_stop; rm -rf "$work" "${KEEP_TMPFS:-/dev/shm}"/marrowby-bench-$$-*' EXIT

need() {
  local missing=()
  for p in "$@"; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p"); done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# generate_site DIR PAGES OBJECTS [KEY=VALUE...]: a site of PAGES pages and
# OBJECTS objects. Every page links to the next `links` pages (5) and uses two
# objects of its own and, unless shared=0, two that every page uses.
#   externals=N port=P  every page also links to four of N addresses on the
#                       slow hosts (bench/slow_hosts.py on port P), each
#                       address on two pages: N / 100 addresses on each of
#                       127.0.0.2 ... .101, a page's four on one host, so that
#                       a tool that does not pace itself per host is seen to
#                       (layout=spread: every link on the next host instead)
#   urls=FILE           every address of the site, one a line, from its root
generate_site() {
  local dir=$1 pages=$2 objects=$3
  shift 3
  mkdir -p "$dir/img"
  python3 - "$dir" "$pages" "$objects" "$@" <<'PY'
import sys, os
d, n, m = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
opt = dict(a.split("=", 1) for a in sys.argv[4:])
links, shared = int(opt.get("links", 5)), opt.get("shared", "1") != "0"
externals, port = int(opt.get("externals", 0)), opt.get("port", "18780")
def external(k):
    if opt.get("layout") == "spread":  # each link on the next host
        return f"http://127.0.0.{2 + k % 100}:{port}/x/{k // 100}.html"
    each = max(1, externals // 100)  # N / 100 addresses a host, one host after another
    return f"http://127.0.0.{2 + k // each % 100}:{port}/x/{k % each}.html"
for i in range(m):
    with open(f"{d}/img/o{i}.gif", "wb") as f:
        f.write(b"GIF89a" + bytes(100 + i % 400))
for i in range(n):
    anchors = "".join(f'<li><a href="p{(i + k) % n}.html">page {(i + k) % n}</a></li>' for k in range(1, links + 1))
    if externals:
        anchors += "".join(f'<li><a href="{external((2 * i + k) % externals)}">elsewhere</a></li>' for k in range(4))
    used = (2 * i % m, (2 * i + 1) % m, 0, 1) if shared else (2 * i % m, (2 * i + 1) % m)
    imgs = "".join(f'<img src="img/o{j}.gif" alt="">' for j in used)
    body = f"<!DOCTYPE html><html><head><title>Page {i}</title><link rel=stylesheet href=site.css></head><body><h1>Page {i}</h1><ul>{anchors}</ul>{imgs}<p>{'Some text. ' * 40}</p></body></html>"
    name = "index.html" if i == 0 else f"p{i}.html"
    with open(f"{d}/{name}", "w") as f:
        f.write(body)
with open(f"{d}/site.css", "w") as f:
    f.write("body { font-family: sans-serif }\n")
if "urls" in opt:
    # The start page, every page name linked (p0.html is, and is missing),
    # every object and the style sheet.
    with open(opt["urls"], "w") as f:
        f.write("\n")
        f.writelines(f"p{i}.html\n" for i in range(n))
        f.writelines(f"img/o{j}.gif\n" for j in range(m))
        f.write("site.css\n")
PY
}

nginx_start() { # root port
  cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  server {
    listen 127.0.0.1:$2;
    root $1;
    add_header LinkChecker 1; # lets linkchecker go faster than 10 requests a second
  }
}
CONF
  nginx -c "$work/nginx.conf" -p "$work"
}
nginx_stop() { [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -f "$work/nginx.pid"; sleep 0.2; }

seconds() { # command... : wall seconds of one run
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

crawl_site() { # name root
  local name=$1 root=$2 port=18765
  nginx_start "$root" "$port"
  local url="http://127.0.0.1:$port/"
  local pages
  printf '[checking]\nmaxrequestspersecond=100000\n' >"$work/linkcheckerrc"
  chmod 644 "$work/linkcheckerrc"
  local m w l
  # Links to other sites are not checked: neither peer checks them here, and
  # the Python documentation's lead to hosts this machine may not reach.
  m=$(seconds "$build/app/marrowby" --headless --delay 0 --no-external --report "$work/report-$name" "$url")
  pages=$(($(wc -l <"$work/report-$name/pages.csv") - 1))
  w=$(seconds wget --spider -r -l inf -np -nd -q -P "$work/wget" "$url")
  l=$(seconds linkchecker -t 1 -f "$work/linkcheckerrc" --no-status -o none "$url")
  nginx_stop
  printf '%-22s %6s pages  marrowby %7.2f s  wget %7.2f s  linkchecker %7.2f s\n' "$name" "$pages" "$m" "$w" "$l"
  echo "crawl_${name}_pages=$pages"
  echo "crawl_${name}_marrowby_s=$m"
  echo "crawl_${name}_wget_s=$w"
  echo "crawl_${name}_linkchecker_s=$l"
}

# links_page FILE ADDRESSES: 4.5 million anchors to ADDRESSES distinct pages
# ("<a href=N>"), padded with spaces to 64 MiB.
links_page() {
  python3 - "$1" "$2" <<'PY'
import sys
path, n = sys.argv[1], int(sys.argv[2])
text = ''.join('<a href=%d>' % (i % n) for i in range(4500000)).encode()
size = 64 * 1024 * 1024
assert len(text) <= size
with open(path, 'wb') as f:
    f.write(text + b' ' * (size - len(text)))
PY
}

rows() { echo $(($(wc -l <"$1") - 1)); } # the rows of a CSV report

# stopped_peak URL REPORT: the peak KiB of a crawl of URL stopped by SIGTERM
# once its first page is merged (it then sits idle in its 60 s pause), its
# reports written into REPORT.
stopped_peak() {
  /usr/bin/time -f '%M' -o "$work/peak" "$build/app/marrowby" --headless --delay 60 \
    --report "$2" "$1" >/dev/null 2>&1 &
  local timer=$! pid="" cpu last=-1
  while [ -z "$pid" ]; do sleep 0.2; pid=$(pgrep -P "$timer" -x marrowby || true); done
  while :; do
    sleep 1.5
    cpu=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    [ "$cpu" = "$last" ] && break
    last=$cpu
  done
  kill -TERM "$pid"
  wait "$timer" || true
  tail -1 "$work/peak"
}

# whole_peak URL REPORT: the peak KiB of a whole crawl, --delay 0.
whole_peak() {
  /usr/bin/time -f '%M' -o "$work/peak" "$build/app/marrowby" --headless --delay 0 \
    --report "$2" "$1" >/dev/null 2>&1 || true
  tail -1 "$work/peak"
}

site_records() { # REPORT: pages, objects and link rows of a whole crawl
  echo $(($(rows "$1/pages.csv") + $(rows "$1/objects.csv") + $(rows "$1/links.csv")))
}

per_record() { # peak-KiB records peak-KiB records: bytes a record adds
  awk -v a="$1" -v n="$2" -v b="$3" -v m="$4" 'BEGIN { printf "%.0f", (a - b) * 1024 / (n - m) }'
}

memory() {
  need nginx python3 time
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  mkdir -p "$work/www"
  links_page "$work/www/many.html" 450000
  links_page "$work/www/few.html" 45000
  generate_site "$work/www/small" 2000 4000
  generate_site "$work/www/large" 20000 40000
  nginx_start "$work/www" 18766
  local url=http://127.0.0.1:18766 peak records peakFew recordsFew
  # The page's record, and one queued page and one link row per address.
  peak=$(stopped_peak "$url/many.html" "$work/many")
  records=$((2 * $(rows "$work/many/links.csv") + 1))
  peakFew=$(stopped_peak "$url/few.html" "$work/few")
  recordsFew=$((2 * $(rows "$work/few/links.csv") + 1))
  echo "memory_page_links_rows=$(rows "$work/many/links.csv")"
  echo "memory_page_peak_mib=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')"
  echo "memory_page_bytes_per_record=$(per_record "$peak" "$records" "$peakFew" "$recordsFew")"
  peak=$(whole_peak "$url/large/" "$work/large")
  records=$(site_records "$work/large")
  peakFew=$(whole_peak "$url/small/" "$work/small")
  recordsFew=$(site_records "$work/small")
  echo "memory_site_records=$records"
  echo "memory_site_peak_mib=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')"
  echo "memory_site_bytes_per_record=$(per_record "$peak" "$records" "$peakFew" "$recordsFew")"
  nginx_stop
}

speed() {
  need nginx linkchecker wget bc python3.11-doc
  cmake --build "$build" --target marrowby bench_heartbeat >/dev/null 2>&1
  generate_site "$work/site" 1000 2000
  crawl_site generated "$work/site"
  crawl_site python_docs /usr/share/doc/python3.11/html
  "$build/bench/bench_heartbeat" 2>/dev/null
}

# The folder server behind --site against nginx serving the same folder of
# 20,000 pages: the same crawl, the same reports, two servers.
site() {
  need nginx bc python3
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  generate_site "$work/folder" 20000 40000
  local port=18767 s n
  nginx_start "$work/folder" "$port"
  n=$(seconds "$build/app/marrowby" --headless --delay 0 --report "$work/nginx" "http://127.0.0.1:$port/")
  nginx_stop
  s=$(seconds "$build/app/marrowby" --headless --delay 0 --report "$work/site" --site "$work/folder")
  printf '%-22s %6s pages  --site %7.2f s  nginx %7.2f s  ratio %.2f\n' folder \
    "$(rows "$work/site/pages.csv")" "$s" "$n" "$(echo "$s / $n" | bc -l)"
  echo "site_pages=$(rows "$work/site/pages.csv")"
  echo "site_nginx_pages=$(rows "$work/nginx/pages.csv")"
  echo "site_marrowby_s=$s"
  echo "site_nginx_s=$n"
}

# ------------------------------------------------------ links to other sites

hosts_port=18780
hosts_pid=""
# hosts_start: the slow hosts (bench/slow_hosts.py), ready to answer.
hosts_start() {
  rm -f "$work/hosts.ready"
  python3 "$bench/slow_hosts.py" --port "$hosts_port" --lifetime 900 --ready "$work/hosts.ready" \
    >"$work/hosts.out" 2>"$work/hosts.err" &
  hosts_pid=$!
  local i
  for i in $(seq 100); do
    [ -f "$work/hosts.ready" ] && return 0
    sleep 0.1
  done
  echo "crawl.sh: the slow hosts did not start: $(cat "$work/hosts.err")" >&2
  return 1
}
# hosts_stop: stops them; their counts are then in $work/hosts.out.
hosts_stop() {
  [ -n "$hosts_pid" ] || return 0
  kill -TERM "$hosts_pid" 2>/dev/null || true
  wait "$hosts_pid" 2>/dev/null || true
  hosts_pid=""
}
declare -A HOSTS
hosts_read() { # the counts of the last run, into HOSTS[KEY]
  local line
  HOSTS=()
  while IFS= read -r line; do HOSTS[${line%%=*}]=${line#*=}; done <"$work/hosts.out"
}

# external_run NAME COMMAND...: the wall time of COMMAND while the slow hosts
# count what it asks of them, as KEY=VALUE lines.
external_run() {
  local name=$1 s
  shift
  hosts_start
  s=$(seconds timeout 600 "$@")
  hosts_stop
  hosts_read
  printf '%-12s %7.2f s  %5s requests (%s HEAD, %s GET, %s robots.txt)  %4s addresses on %3s hosts  peak %s a host (hosts at each peak: %s), %s connections\n' \
    "$name" "$s" "${HOSTS[requests]}" "${HOSTS[requests_head]:-0}" "${HOSTS[requests_get]:-0}" \
    "${HOSTS[robots_requests]}" "${HOSTS[addresses]}" "${HOSTS[hosts_asked]}" \
    "${HOSTS[peak_in_flight]}" "${HOSTS[peak_hosts]}" "${HOSTS[peak_connections]}" >&2
  echo "external_${name}_s=$s"
  echo "external_${name}_requests=${HOSTS[requests]}"
  echo "external_${name}_robots_requests=${HOSTS[robots_requests]}"
  echo "external_${name}_addresses=${HOSTS[addresses]}"
  echo "external_${name}_peak=${HOSTS[peak_in_flight]}"
  echo "external_${name}_peak_connections=${HOSTS[peak_connections]}"
  echo "external_${name}_peak_hosts=${HOSTS[peak_hosts]}"
  echo "external_${name}_peaks=${HOSTS[peaks]}"
}

# linkinator from npm, in a folder of the build tree.
linkinator_bin() {
  local prefix="$build/bench-npm"
  if [ ! -x "$prefix/node_modules/.bin/linkinator" ]; then
    command -v npm >/dev/null || need npm
    mkdir -p "$prefix"
    npm install --prefix "$prefix" --no-audit --no-fund --silent linkinator >&2
  fi
  echo "$prefix/node_modules/.bin/linkinator"
}

# A site of 1,000 pages whose links lead to 2,000 addresses on 100 slow hosts,
# checked by each tool at its defaults, and by Marrowby allowed as many
# connections as linkinator opens (100); then the window's heartbeat meanwhile.
# HOSTS_LAYOUT=spread puts every link on the next host (see generate_site);
# EXTERNAL_LINKCHECKER=0 leaves linkchecker out.
external() {
  need nginx linkchecker bc python3
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  local linkinator
  linkinator=$(linkinator_bin)
  generate_site "$work/ext" 1000 2000 externals=2000 port="$hosts_port" layout="${HOSTS_LAYOUT:-grouped}"
  nginx_start "$work/ext" 18768
  local url=http://127.0.0.1:18768/
  printf '[checking]\nmaxrequestspersecond=100000\n' >"$work/linkcheckerrc"
  chmod 644 "$work/linkcheckerrc"
  external_run marrowby "$build/app/marrowby" --headless --delay 0 --report "$work/report-ext" "$url"
  echo "external_marrowby_pages=$(rows "$work/report-ext/pages.csv")"
  [ -f "$work/report-ext/external.csv" ] && echo "external_marrowby_rows=$(rows "$work/report-ext/external.csv")"
  if "$build/app/marrowby" --help 2>&1 | grep -- --connections >/dev/null; then
    external_run marrowby_c100 "$build/app/marrowby" --headless --delay 0 --connections 100 \
      --report "$work/report-ext100" "$url"
  fi
  external_run linkinator "$linkinator" --recurse "$url"
  # EXTERNAL_LINKCHECKER=0 leaves it out: it takes some six minutes.
  if [ "${EXTERNAL_LINKCHECKER:-1}" != 0 ]; then
    external_run linkchecker linkchecker --check-extern -f "$work/linkcheckerrc" --no-status -o none "$url"
  fi
  if cmake --build "$build" --target bench_heartbeat >/dev/null 2>&1; then
    hosts_start
    "$build/bench/bench_heartbeat" "$url" 2>/dev/null | sed 's/^/external_/' || true
    hosts_stop
    hosts_read
    echo "external_heartbeat_addresses=${HOSTS[addresses]}"
    echo "external_heartbeat_peak=${HOSTS[peak_in_flight]}"
  fi
  nginx_stop
}

# ------------------------------------------------------------- a large site

# large_site: the 100,000-page site of the large and keep modes, made once
# into the build folder (with the list of its addresses): making and removing
# 150,000 files takes minutes on a busy disk.
large_site() {
  local site="$build/bench-large-site" list="$build/bench-large-site.txt"
  if [ ! -s "$list" ]; then
    rm -rf "$site"
    generate_site "$site" 100000 50000 links=10 shared=0 urls="$list.part"
    mv "$list.part" "$list"
  fi
}

# A generated site of 100,000 pages (ten links and two objects each, 150,002
# addresses) from nginx: Marrowby and wget against the floor, one curl process
# fetching every address once over a kept-alive connection.
large() {
  need nginx wget curl bc python3
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  local site="$build/bench-large-site" list="$build/bench-large-site.txt"
  large_site
  local port=18769
  local url="http://127.0.0.1:$port/"
  # One transfer after another, each writing its status and new connections.
  {
    printf 'silent\nwrite-out = "%%{http_code} %%{num_connects}\\n"\n'
    sed "s|.*|url = \"$url&\"\noutput = \"/dev/null\"|" "$list"
  } >"$work/large.curl"
  nginx_start "$site" "$port"
  local f m w
  f=$(seconds sh -c 'curl -K "$1" >"$2"' curl "$work/large.curl" "$work/large.out")
  m=$(seconds "$build/app/marrowby" --headless --delay 0 --report "$work/report-large" "$url")
  w=$(seconds wget --spider -r -l inf -np -nd -q -P "$work/wget-large" "$url")
  nginx_stop
  local fetched connects found
  fetched=$(wc -l <"$work/large.out")
  connects=$(awk '{ s += $2 } END { print s + 0 }' "$work/large.out")
  found=$(($(rows "$work/report-large/pages.csv") + $(rows "$work/report-large/objects.csv")))
  printf 'large site: %s addresses  curl %7.2f s (%s transfers, %s connections)  marrowby %7.2f s (%s pages and objects)  wget %7.2f s\n' \
    "$(wc -l <"$list")" "$f" "$fetched" "$connects" "$m" "$found" "$w" >&2
  echo "large_addresses=$(wc -l <"$list")"
  echo "large_curl_transfers=$fetched"
  echo "large_curl_connections=$connects"
  echo "large_curl_s=$f"
  echo "large_marrowby_rows=$found"
  echo "large_marrowby_s=$m"
  echo "large_wget_s=$w"
}

# ------------------------------------------------------------ keeping a crawl

# kept_site PAGES: the site of the issue's shape (ten links to the next pages
# and two objects of their own a page, PAGES / 2 objects), made once into the
# build folder; prints its folder.
kept_site() {
  local pages=$1 site
  if [ "$pages" = 100000 ]; then
    large_site
    echo "$build/bench-large-site"
    return
  fi
  site="$build/bench-keep-site-$pages"
  if [ ! -f "$site.done" ]; then
    rm -rf "$site"
    generate_site "$site" "$pages" $((pages / 2)) links=10 shared=0
    touch "$site.done"
  fi
  echo "$site"
}

# kept_run NAME URL [ARGS...]: one whole crawl of URL, --headless --delay 0,
# its reports into $work/NAME (no URL: the crawl's is in the file ARGS name);
# prints "SECONDS PEAK-KIB PAGES".
kept_run() {
  local name=$1 url=$2
  shift 2
  [ -n "$url" ] && set -- "$@" "$url"
  rm -rf "$work/$name"
  /usr/bin/time -f '%e %M' -o "$work/$name.time" nice "$build/app/marrowby" --headless --delay 0 \
    --report "$work/$name" "$@" >/dev/null 2>"$work/$name.err" || true
  echo "$(tail -1 "$work/$name.time") $(rows "$work/$name/pages.csv")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
per_page_ms() { awk -v s="$1" -v n="$2" 'BEGIN { printf "%.3f", s * 1000 / n }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
file_mib() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# kept_pages FILE: the pages committed to a crawl file so far.
# Read only, and not before the file is there (sqlite3 would make one).
kept_pages() {
  local v=""
  [ -s "$1" ] && v=$(sqlite3 -readonly "$1" "SELECT value FROM meta WHERE name = 'pages'" 2>/dev/null)
  echo "${v:-0}"
}

# same_reports A B: whether two report folders hold the same rows (the CSV
# files byte for byte, the summary's times aside).
same_reports() {
  local f
  for f in "$1"/*.csv; do
    cmp -s "$f" "$2/$(basename "$f")" || { echo "differ: $(basename "$f")"; return; }
  done
  echo same
}

# The site of issue 23 (ten links and two objects a page) from nginx, crawled
# whole without a crawl file and with --crawl-file, the two taking turns:
# KEEP_RUNS turns (3) at 10,000 pages, one at 100,000; then a crawl of the
# 100,000 pages killed (SIGKILL) once about half its pages are committed and
# --resume of its file, against the uninterrupted one.
keep() {
  need nginx python3 time bc sqlite3
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  local port=18770 url="http://127.0.0.1:18770/" pages runs=${KEEP_RUNS:-3} i r
  for pages in 10000 100000; do
    local site
    site=$(kept_site "$pages")
    nginx_start "$site" "$port"
    [ "$pages" = 100000 ] && runs=1
    local plain=() kept=() plainPeak=() keptPeak=() n=0
    for i in $(seq "$runs"); do
      read -r s k n <<<"$(kept_run "plain-$pages" "$url")"
      plain+=("$s") plainPeak+=("$k")
      echo "keep_${pages}_plain_run${i}_s=$s keep_${pages}_plain_run${i}_peak_kib=$k pages=$n load=$(cut -d' ' -f1 /proc/loadavg)" >&2
      rm -f "$work/kept-$pages.marrowby"
      read -r s k n <<<"$(kept_run "kept-$pages" "$url" --crawl-file "$work/kept-$pages.marrowby")"
      kept+=("$s") keptPeak+=("$k")
      echo "keep_${pages}_file_run${i}_s=$s keep_${pages}_file_run${i}_peak_kib=$k pages=$n load=$(cut -d' ' -f1 /proc/loadavg)" >&2
    done
    local ps fs pk fk
    ps=$(printf '%s\n' "${plain[@]}" | median)
    fs=$(printf '%s\n' "${kept[@]}" | median)
    pk=$(printf '%s\n' "${plainPeak[@]}" | median)
    fk=$(printf '%s\n' "${keptPeak[@]}" | median)
    printf 'keep %7s pages (%s crawled)  no file %7.2f s %6s ms/page %7s MiB  --crawl-file %7.2f s %6s ms/page %7s MiB, file %s MiB  same reports: %s\n' \
      "$pages" "$n" "$ps" "$(per_page_ms "$ps" "$n")" "$(mib "$pk")" "$fs" "$(per_page_ms "$fs" "$n")" \
      "$(mib "$fk")" "$(file_mib "$work/kept-$pages.marrowby")" \
      "$(same_reports "$work/plain-$pages" "$work/kept-$pages")" >&2
    echo "keep_${pages}_pages=$n"
    echo "keep_${pages}_plain_s=$ps"
    echo "keep_${pages}_plain_ms_per_page=$(per_page_ms "$ps" "$n")"
    echo "keep_${pages}_plain_peak_mib=$(mib "$pk")"
    echo "keep_${pages}_file_s=$fs"
    echo "keep_${pages}_file_ms_per_page=$(per_page_ms "$fs" "$n")"
    echo "keep_${pages}_file_peak_mib=$(mib "$fk")"
    echo "keep_${pages}_file_mib=$(file_mib "$work/kept-$pages.marrowby")"
    [ "$pages" = 100000 ] || nginx_stop
  done
  # The 100,000 pages again, killed half way, then resumed.
  local file="$work/killed.marrowby" half=$((n / 2)) start killedAt committed s k
  rm -f "$file" "$file"-*
  start=$(date +%s.%N)
  nice "$build/app/marrowby" --headless --delay 0 --report "$work/killed" --crawl-file "$file" "$url" \
    >/dev/null 2>&1 &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null && [ "$(kept_pages "$file")" -lt "$half" ]; do sleep 0.5; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  killedAt=$(echo "$(date +%s.%N) - $start" | bc)
  committed=$(kept_pages "$file")
  local killedMib
  killedMib=$(du -cm "$file" "$file-wal" 2>/dev/null | tail -1 | cut -f1)
  read -r s k r <<<"$(kept_run resumed "" --resume "$file")"
  nginx_stop
  printf 'resume: killed after %.2f s with %s pages committed (file and log %s MiB); --resume %.2f s, %s MiB peak, %s pages; whole %.2f s against %.2f s uninterrupted; same reports: %s\n' \
    "$killedAt" "$committed" "$killedMib" "$s" "$(mib "$k")" "$r" \
    "$(echo "$killedAt + $s" | bc)" "$fs" "$(same_reports "$work/kept-100000" "$work/resumed")" >&2
  echo "keep_resume_killed_s=$killedAt"
  echo "keep_resume_committed_pages=$committed"
  echo "keep_resume_killed_file_mib=$killedMib"
  echo "keep_resume_s=$s"
  echo "keep_resume_peak_mib=$(mib "$k")"
  echo "keep_resume_pages=$r"
  echo "keep_resume_same=$(same_reports "$work/kept-100000" "$work/resumed")"
}

# in_memory SITE PAGES: where nginx serves SITE from memory, as it does a
# small site from the page cache: a copy in a tmpfs (KEEP_TMPFS, /dev/shm)
# when it has room (6 KiB a page), removed when the run ends (the trap
# above); else SITE itself, read once into the page cache. That read alone
# did not serve the million: a guest whose kernel pages out memory left
# unused for minutes (DAMON) had dropped most of its pages again before the
# crawl came to them, and the crawl waited for the disk.
in_memory() {
  local site=$1 pages=$2 tmpfs=${KEEP_TMPFS:-/dev/shm} copy free
  copy="$tmpfs/marrowby-bench-$$-$(basename "$site")"
  free=$(df -Pk "$tmpfs" 2>/dev/null | awk 'NR == 2 { print $4 }')
  if [ -n "$free" ] && [ "$free" -gt $((pages * 6 + 1048576)) ] && mkdir "$copy" 2>/dev/null; then
    if cp -a "$site/." "$copy/"; then
      echo "$copy"
      return
    fi
    rm -rf "$copy"
  fi
  find "$site" -type f -print0 | xargs -0 cat >/dev/null
  echo "$site"
}

# A site of 1,000,000 pages of the same shape (made once into the build
# folder; about 1.5 million files, 6 GB), crawled whole with --crawl-file,
# served from memory (in_memory) as the peer's 10,000 pages are.
keep_million() {
  need nginx python3 time bc sqlite3
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  local site small port=18771 s k n ps pk pn runs=() i
  site=$(in_memory "$(kept_site 1000000)" 1000000)
  small=$(in_memory "$(kept_site 10000)" 10000)
  # The peer, in the same run: the 10,000 pages without a file, three times
  # before the million and twice after (the host's load changes over the
  # run's half hour), the median of the five.
  peer_runs() {
    nginx_start "$small" "$port"
    for i in "$@"; do
      read -r s k pn <<<"$(kept_run "peer-$i" "http://127.0.0.1:$port/")"
      runs+=("$s")
    done
    nginx_stop
  }
  peer_runs 1 2 3
  nginx_start "$site" "$port"
  rm -f "$work/million.marrowby"
  read -r s k n <<<"$(kept_run million "http://127.0.0.1:$port/" --crawl-file "$work/million.marrowby")"
  nginx_stop
  local ms=$s mk=$k
  peer_runs 4 5
  ps=$(printf '%s\n' "${runs[@]}" | median)
  s=$ms k=$mk
  echo "keep_million_peer_runs_s=${runs[*]}"
  printf 'keep 1000000 pages (%s crawled)  --crawl-file %.2f s %s ms/page %s MiB peak, file %s MiB; 10000 pages without a file %s ms/page\n' \
    "$n" "$s" "$(per_page_ms "$s" "$n")" "$(mib "$k")" "$(file_mib "$work/million.marrowby")" "$(per_page_ms "$ps" "$pn")" >&2
  echo "keep_million_peer_10000_plain_ms_per_page=$(per_page_ms "$ps" "$pn")"
  echo "keep_million_pages=$n"
  echo "keep_million_s=$s"
  echo "keep_million_ms_per_page=$(per_page_ms "$s" "$n")"
  echo "keep_million_peak_mib=$(mib "$k")"
  echo "keep_million_file_mib=$(file_mib "$work/million.marrowby")"
  if [ -n "${KEEP_MILLION_PLAIN:-}" ]; then
    nginx_start "$site" "$port"
    read -r s pk n <<<"$(kept_run million-plain "http://127.0.0.1:$port/")"
    nginx_stop
    echo "keep_million_plain_ms_per_page=$(per_page_ms "$s" "$n")"
    echo "keep_million_plain_peak_mib=$(mib "$pk")"
    echo "keep_million_same_reports=$(same_reports "$work/million-plain" "$work/million")"
  fi
}

# The 100,000 pages crawled with --crawl-file under heaptrack: the peak heap
# and the allocations that hold most of it. The profile is left in
# $build/bench-keep.heaptrack.zst for heaptrack_print or heaptrack_gui.
keep_profile() {
  need nginx python3 heaptrack
  cmake --build "$build" --target marrowby >/dev/null 2>&1
  local site port=${KEEP_PORT:-18772} out="$build/bench-keep.heaptrack"
  site=$(kept_site 100000)
  nginx_start "$site" "$port"
  rm -f "$out".* "$work/profiled.marrowby"
  nice heaptrack -o "$out" "$build/app/marrowby" --headless --delay 0 --report "$work/profiled" \
    --crawl-file "$work/profiled.marrowby" "http://127.0.0.1:$port/" >/dev/null 2>&1 || true
  nginx_stop
  heaptrack_print -f "$out".* -p 0 -a 0 -T 0 -n 0 -s 1 -l 0 2>/dev/null | grep -E 'peak heap|peak RSS|total memory leaked' >&2 || true
  echo "keep_profile_pages=$(rows "$work/profiled/pages.csv")"
  echo "keep_profile=$(ls "$out".*)"
}

case "${2:-speed}" in
  speed) speed ;;
  memory) memory ;;
  site) site ;;
  external) external ;;
  large) large ;;
  keep) keep ;;
  keep-million) keep_million ;;
  keep-profile) keep_profile ;;
  *) echo "crawl.sh: no mode \"$2\" (speed, memory, site, external, large, keep, keep-million, keep-profile)" >&2; exit 2 ;;
esac
