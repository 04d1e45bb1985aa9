#!/usr/bin/env bash
# Crawl benchmarks, side by side with their peers in one run: Marrowby
# (--headless --delay 0), wget --spider -r and linkchecker (one thread, no
# per-request wait), all against the same nginx on 127.0.0.1.
#   bench/crawl.sh BUILD_DIR [speed]   prints a table and KEY=VALUE lines
#   bench/crawl.sh BUILD_DIR memory    peak memory of whole crawls, KEY=VALUE
#   bench/crawl.sh BUILD_DIR site      --site against nginx on a 20,000-page folder
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
trap 'nginx_stop; rm -rf "$work"' EXIT

need() {
  local missing=()
  for p in "$@"; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p"); done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# A site of $1 pages and $2 objects: every page links to the next five pages
# and uses four objects, two of its own and two shared ones.
generate_site() {
  local dir=$1 pages=$2 objects=$3
  mkdir -p "$dir/img"
  python3 - "$dir" "$pages" "$objects" <<'PY'
import sys, os
d, n, m = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(m):
    with open(f"{d}/img/o{i}.gif", "wb") as f:
        f.write(b"GIF89a" + bytes(100 + i % 400))
for i in range(n):
    links = "".join(f'<li><a href="p{(i + k) % n}.html">page {(i + k) % n}</a></li>' for k in range(1, 6))
    imgs = "".join(f'<img src="img/o{j}.gif" alt="">' for j in (2 * i % m, (2 * i + 1) % m, 0, 1))
    body = f"<!DOCTYPE html><html><head><title>Page {i}</title><link rel=stylesheet href=site.css></head><body><h1>Page {i}</h1><ul>{links}</ul>{imgs}<p>{'Some text. ' * 40}</p></body></html>"
    name = "index.html" if i == 0 else f"p{i}.html"
    with open(f"{d}/{name}", "w") as f:
        f.write(body)
with open(f"{d}/site.css", "w") as f:
    f.write("body { font-family: sans-serif }\n")
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
  m=$(seconds "$build/app/marrowby" --headless --delay 0 --report "$work/report-$name" "$url")
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

case "${2:-speed}" in
  speed) speed ;;
  memory) memory ;;
  site) site ;;
  *) echo "crawl.sh: no mode \"$2\" (speed, memory, site)" >&2; exit 2 ;;
esac
