# Sourced by run.sh and test.sh: the Debian packages the project needs, installed when missing.
packages=(cmake g++ make binutils libgtest-dev qt6-base-dev libeigen3-dev graphviz clang-format git
          nlohmann-json3-dev libssl-dev libgraphviz-dev qt6-svg-dev)

ensure_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    if [[ $(id -u) -eq 0 ]]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        echo "Missing packages. Run:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}
