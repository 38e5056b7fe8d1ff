# Sourced by the other scripts: the environment Qt WebEngine needs here.
# Chromium refuses to run as root with its sandbox on.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --disable-background-networking --disable-component-update}"
jobs=$(nproc 2>/dev/null || echo 2)
