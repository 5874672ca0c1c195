# Sourced by test.sh and demo.sh: installs the Debian packages the build needs
# when any of them is missing.
# pkgconf: the install test builds the example client with pkg-config.
# libssl-dev: TLS in the library and kvrdevserver; openssl: the command the
# TLS tests make their certificate authority with.
kovra_packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev pkgconf libssl-dev openssl)

kovra_install_deps() {
  local missing=()
  local p
  for p in "${kovra_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo=sudo; else
      echo "Missing packages: ${missing[*]} (run as root or install sudo)" >&2; return 1
    fi
  fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
