# Shared by tests/load/run and tests/load/crash: the programs, a fresh site
# served by lighttpd on a free port, and the checks made once the clients stop.
# Source it after setting build_dir; it defines functions and a few paths.

load_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
load_top=$(cd "$load_here/../.." && pwd)
# shellcheck source=../../scripts/lib/common.sh
. "$load_top/scripts/lib/common.sh"

LOAD_TARGETS=("${WBBS_SITE_TARGETS[@]}" load_client load_inspect load_floor wbbs_cgi_shifted)
LOAD_FOLDERS=2

# Builds what the tests run, in the release build unless another was named.
load_build() {
  if [ "$build_dir" = "$WBBS_RELEASE_DIR" ]; then
    wbbs_build_release "${LOAD_TARGETS[@]}" >/dev/null
  else
    cmake --build "$build_dir" -j "$WBBS_JOBS" --target "${LOAD_TARGETS[@]}" >/dev/null
  fi
  load_client=$(load_built load_client)
  load_inspect=$(load_built load_inspect)
  load_admin=$(load_built wbbs-admin)
  load_floor=$(load_built floor.cgi)
  load_shifted=$(load_built wbbs-shifted.cgi)
}

load_built() {
  find "$build_dir" \( -name CMakeFiles -o -name load-sites -o -name browser-sites \) -prune -o \
    -name "$1" -type f -print -quit
}

# An installation description: two folders that take one attachment each,
# one user per client (ldNN, password pw-ldNN), three frames, composing in the frame.
load_description() {
  local clients=$1 c id
  echo 'folder 1 name="Load one" class=0 access=1 write=10'
  echo 'setting 1 ATTACH_MAX 1'
  echo 'folder 2 name="Load two" class=0 access=1 write=10'
  echo 'setting 2 ATTACH_MAX 1'
  for ((c = 1; c <= clients; c++)); do
    id=$(printf 'ld%02d' "$c")
    echo "user $id password=pw-$id name=\"Load user $c\" level=10 mode=1 write_mode=1 disp=1"
  done
}

# Lays out a fresh site in $1 for $2 clients; sets site, www, data, ledger, lng.
load_site() {
  site=$1
  mkdir -p "$site"
  load_description "$2" >"$site/description.txt"
  "$load_top/scripts/lib/site-layout" "$site" --build-dir "$build_dir" --port 1 --fresh \
    --description "$site/description.txt" --no-messages --site-id LT >/dev/null
  site=$(cd "$site" && pwd -P)
  www=$site/www
  data=$site/data
  ledger=$site/ledger.txt
  lng=$www/wbbs.lng
  rm -f "$ledger"
  install -m 0755 "$load_floor" "$www/floor.cgi"
}

# Runs a command as the owner of the data (the server's user), so that what it
# reads or creates is what the board itself would.
as_owner() {
  local owner
  owner=$(stat -c %U "$data")
  if [ "$(id -u)" -eq 0 ] && [ "$owner" != root ]; then
    runuser -u "$owner" -- "$@"
  else
    "$@"
  fi
}

# Starts lighttpd for the site on a free port (sets port, server_pid). Extra
# configuration lines come on standard input.
load_start_server() {
  local extra tries
  extra=$(cat)
  for tries in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    [ "$port" -ne 8080 ] || continue
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    sed -i "s/^server.port = .*/server.port = $port/" "$site/lighttpd.conf"
    sed -i '/^# load test:/,$d' "$site/lighttpd.conf"
    {
      echo '# load test: kept-alive connections as browsers keep them'
      echo 'server.max-keep-alive-requests = 1000000'
      echo 'server.max-keep-alive-idle = 120'
      echo 'server.max-read-idle = 120'
      echo 'server.max-write-idle = 120'
      printf '%s\n' "$extra"
    } >>"$site/lighttpd.conf"
    /usr/sbin/lighttpd -D -f "$site/lighttpd.conf" &
    server_pid=$!
    local wait
    for wait in $(seq 50); do
      if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
      if curl -s -o /dev/null "http://127.0.0.1:$port/floor.cgi"; then return 0; fi
      sleep 0.1
    done
    load_stop_server
  done
  echo "load: lighttpd did not start (see $site/error.log)" >&2
  return 1
}

load_stop_server() {
  if [ -n "${server_pid:-}" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}

# Waits until no copy of the board runs any more: a request the server gave
# up on may still be writing.
load_wait_board_idle() {
  local exe=$www/wbbs.cgi proc running tries
  for tries in $(seq 300); do
    running=0
    for proc in /proc/[0-9]*; do
      [ "$(readlink "$proc/exe" 2>/dev/null)" = "$exe" ] && running=1 && break
    done
    [ "$running" -eq 0 ] && return 0
    sleep 0.1
  done
  echo "load: wbbs.cgi still running after 30 s" >&2
  return 1
}

# Lock files (and their break guards), temporary files and upload files left in the data directory;
# prints them and returns 1 when there are any.
load_leftovers() {
  local left
  left=$(cd "$data" && find . \( -name '*.chk' -o -name '*.brk' -o -name '*.tmp' \) -print; cd "$data" && find . -maxdepth 1 -name 'CGI*' -print)
  if [ -n "$left" ]; then
    echo "  FILES LEFT BEHIND: $(printf '%s\n' "$left" | wc -l)"
    printf '%s\n' "$left" | head -n 30 | sed 's/^/    /'
    return 1
  fi
  echo "  no lock, temporary or upload files left"
}

# The folder checker on every folder.
load_check_folders() {
  local out status=0
  out=$(as_owner "$load_admin" -C "$www" check 2>&1) || status=$?
  printf '%s\n' "$out" | sed 's/^/  check: /'
  return "$status"
}
