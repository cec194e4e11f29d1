#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when they are
# missing and we may install (root). Quiet when everything is there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_pkg libgmock-dev || need+=(libgmock-dev)
have_pkg libbenchmark-dev || need+=(libbenchmark-dev)
# numpy for Debian's python3: the reference side of make bench's comparison,
# and with matplotlib, pip and venv what the Python binding's tests need.
have_pkg python3-numpy || need+=(python3-numpy)
have_pkg python3-matplotlib || need+=(python3-matplotlib)
have_pkg python3-pip || need+=(python3-pip)
have_pkg python3-venv || need+=(python3-venv)
# Mono's compiler and runtime for the C# binding's test.
have_cmd mcs || need+=(mono-mcs)
have_cmd mono || need+=(mono-runtime)
# mypy checks the Python package's type hints (python_typing).
have_pkg python3-mypy || need+=(python3-mypy)
# PyTango for the Tango device server and its tests, Taurus under Xvfb for
# the generic client's check (MariaDB and tango-db: the Tango tests' script).
have_pkg python3-tango || need+=(python3-tango)
have_pkg python3-taurus || need+=(python3-taurus)
have_pkg xvfb || need+=(xvfb)
# npm installs the independent JCAMP-DX reader the Python tests check with.
have_cmd npm || need+=(npm)
# The web view: its server, and the headless browser its tests drive.
have_pkg python3-aiohttp || need+=(python3-aiohttp)
have_pkg python3-selenium || need+=(python3-selenium)
have_pkg chromium || need+=(chromium)
have_pkg chromium-driver || need+=(chromium-driver)
for pkg in ${NADIXQ_EXTRA_PACKAGES:-}; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${need[*]} (run as root to install them)" >&2
  exit 1
fi
echo "installing: ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
# Packages of a foreign architecture (wine32:i386) need it enabled first.
for pkg in "${need[@]}"; do
  case "$pkg" in
    *:*)
      arch=${pkg##*:}
      if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        dpkg --add-architecture "$arch"
      fi
      ;;
  esac
done
# A mirror in the middle of a sync serves index files of the wrong size for a
# while: try the update again before giving up, and install from what the
# update could fetch if it never fully succeeds.
for attempt in 1 2 3; do
  if apt-get update -qq; then
    break
  fi
  echo "apt-get update failed (attempt $attempt of 3)" >&2
  if [ "$attempt" -lt 3 ]; then
    sleep $((attempt * 15))
  fi
done
apt-get install -y -qq --no-install-recommends "${need[@]}"
