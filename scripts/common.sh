# Shared by scripts/run, scripts/test and .ci/run: install what is missing,
# then configure and build one build tree. Sourced, not run.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the project needs, and why:
#   build-essential cmake ninja-build pkg-config  compiler and build
#   libicu-dev                                    locale, number/date formats, collation
#   qt6-base-dev qt6-qpa-plugins                  the window (Widgets, QtTest, offscreen/xcb)
#   fonts-liberation2                             Arial-compatible metrics for the window font
#   libgtest-dev libgmock-dev                     tests
#   libbenchmark-dev libsqlite3-dev               benchmarks (SQLite is only the peer they compare with)
#   libqt6sql6-sqlite                             the window benchmark's QtSql peer (SQLite driver)
#   xvfb xauth                                    a real window without a desktop (screenshots)
#   clang-format                                  formatting
#   qt6-charts-dev                                the plan's chart dialog
#   qt6-translations-l10n                         German texts in the toolkit's own dialogs
#   poppler-utils                                 tests read the PDF report back (pdftotext)
#   desktop-file-utils appstream                  tests validate the desktop entry and metadata
#   dpkg-dev file                                 cpack builds the Debian package
#   clang libclang-rt-14-dev                      the sanitizer tree and its fuzz harnesses
ABS_PACKAGES=(build-essential cmake ninja-build pkg-config libicu-dev
  qt6-base-dev qt6-qpa-plugins fonts-liberation2 libgtest-dev libgmock-dev
  libbenchmark-dev libsqlite3-dev libqt6sql6-sqlite xvfb xauth clang-format
  qt6-charts-dev qt6-translations-l10n poppler-utils desktop-file-utils appstream dpkg-dev file
  clang libclang-rt-14-dev)

# The options of build/asan: clang, AddressSanitizer + UndefinedBehaviorSanitizer
# and the fuzz harnesses (scripts/fuzz), no window.
ABS_ASAN_OPTIONS=(-DCMAKE_CXX_COMPILER=/usr/bin/clang++ -DABS_SANITIZE=ON -DABS_FUZZ=ON
  -DABS_WITH_APP=OFF -DABS_WITH_BENCH=OFF)

ensure_packages() {
  local missing=()
  for p in "${ABS_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing missing packages: ${missing[*]}" >&2
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
  fi
}

# build_tree DIR BUILD_TYPE [cmake options...] -- [targets...]
build_tree() {
  local dir="$ROOT/build/$1" type="$2"
  shift 2
  local opts=() targets=()
  while (($#)) && [[ "$1" != "--" ]]; do opts+=("$1"); shift; done
  (($#)) && shift
  targets=("$@")
  # Configure when the tree is new or a requested option differs from its cache.
  local configure=0 o
  [[ -f "$dir/build.ninja" ]] || configure=1
  for o in "${opts[@]}"; do
    o="${o#-D}"
    grep -q "^${o%%=*}:[A-Z]*=${o#*=}\$" "$dir/CMakeCache.txt" 2>/dev/null || configure=1
  done
  if ((configure)); then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${opts[@]}" >&2
  fi
  if ((${#targets[@]})); then
    cmake --build "$dir" --target "${targets[@]}" >&2
  else
    cmake --build "$dir" >&2
  fi
}
