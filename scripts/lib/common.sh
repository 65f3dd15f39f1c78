# Shared by scripts/test, scripts/demo and tests/browser/run: what a fresh Debian
# machine is missing gets installed (as root), and the release build lives in one
# place. Source it; it defines functions only.

WBBS_TOP=${WBBS_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
WBBS_RELEASE_DIR=${WBBS_RELEASE_DIR:-$WBBS_TOP/build/release}
WBBS_JOBS=${WBBS_JOBS:-$(n=$(nproc 2>/dev/null || echo 2); [ "$n" -gt 2 ] && n=2; echo "$n")}

# Prints the Debian packages of the named groups that this machine lacks.
#   build    compiler, cmake, GoogleTest, Gumbo, iconv, lld (lays out wbbs.cgi)
#   server   lighttpd and curl
#   browser  Chromium, Node.js and npm, a Japanese font for the screenshots
#   fuzz     clang and its runtime libraries (libFuzzer, the sanitizers)
wbbs_missing_packages() {
  local group
  for group in "$@"; do
    case $group in
      build)
        command -v cmake >/dev/null 2>&1 || echo cmake
        command -v g++ >/dev/null 2>&1 || echo g++
        command -v make >/dev/null 2>&1 || echo make
        command -v iconv >/dev/null 2>&1 || echo libc-bin
        [ -f /usr/include/gtest/gtest.h ] || echo libgtest-dev
        { compgen -G '/usr/lib/*/libgumbo.a' >/dev/null && [ -f /usr/include/gumbo.h ]; } || echo libgumbo-dev
        command -v ld.lld >/dev/null 2>&1 || echo lld
        ;;
      server)
        [ -x /usr/sbin/lighttpd ] || echo lighttpd
        command -v curl >/dev/null 2>&1 || echo curl
        ;;
      browser)
        [ -x /usr/bin/chromium ] || echo chromium
        command -v node >/dev/null 2>&1 || echo nodejs
        command -v npm >/dev/null 2>&1 || echo npm
        [ -d /usr/share/fonts/opentype/ipafont-gothic ] || echo fonts-ipafont-gothic
        ;;
      fuzz)
        command -v clang++ >/dev/null 2>&1 || echo clang
        compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a' >/dev/null || echo libclang-rt-dev
        ;;
      *) echo "wbbs_missing_packages: unknown group $group" >&2; return 2 ;;
    esac
  done
}

# Installs whatever the named groups lack; nothing happens when all is there.
wbbs_install_missing() {
  local need
  mapfile -t need < <(wbbs_missing_packages "$@")
  [ "${#need[@]}" -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]} (run as root, or install them first)" >&2
    return 1
  fi
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

# Configures and builds a build directory: wbbs_build DIR [cmake options...]
wbbs_build() {
  local dir=$1; shift
  (cd "$WBBS_TOP" && cmake -S . -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j "$WBBS_JOBS")
}

# The release build that the tests, the browser tests and the demo share; with
# target names only those are built (the demo needs no test programs).
wbbs_build_release() {
  if [ $# -eq 0 ]; then
    wbbs_build "$WBBS_RELEASE_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  else
    (cd "$WBBS_TOP" && cmake -S . -B "$WBBS_RELEASE_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
      cmake --build "$WBBS_RELEASE_DIR" -j "$WBBS_JOBS" --target "$@")
  fi
}

# What a site (scripts/lib/site-layout) is made of.
WBBS_SITE_TARGETS=(wbbs_cgi orva_cgi wbbs_admin wbbs_lng)
