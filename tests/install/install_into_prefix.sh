#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop and a packager rely
# on: exactly the expected files, a valid desktop entry and AppStream metadata that point
# at installed files, programs that run from there, and a runner manual page that lists
# every option of --help. Usage: install_into_prefix.sh BUILD_DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/usr
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort) >"$scratch/installed.txt"
LC_ALL=C sort "$here/installed-files.txt" >"$scratch/expected.txt"
diff "$scratch/expected.txt" "$scratch/installed.txt" || fail "installed files differ from installed-files.txt (< expected, > installed)"

for size in 32 48 64 128 256; do
  picture=$prefix/share/icons/hicolor/${size}x${size}/apps/io.github.zemlix.Zemlix.png
  file "$picture" | grep -q "PNG image data, $size x $size," || fail "$picture: $(file -b "$picture"), not $size x $size"
done

desktop=$prefix/share/applications/io.github.zemlix.Zemlix.desktop
metainfo=$prefix/share/metainfo/io.github.zemlix.Zemlix.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate"
for network in --no-net ""; do  # no address in it that needs the network to check
  appstreamcli validate $network "$metainfo" >"$scratch/appstream.log" || { cat "$scratch/appstream.log"; fail "appstreamcli validate $network"; }
done
command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$prefix/bin/$command" ] || fail "the desktop entry runs '$command', which is not installed in bin"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the desktop entry's icon '$icon' is not installed"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
  fail "the AppStream metadata does not launch $(basename "$desktop")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the AppStream metadata has no release $version"

# Run from the prefix, in the scratch folder: the window writes NN.log where it starts.
cd "$scratch"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
for program in zemlix-sim zemlix; do
  # A program that ignores --version would open its window and never return.
  said=$(timeout 20 "$prefix/bin/$program" --version 2>"$program.stderr") ||
    fail "$program --version exited with $?: $(cat "$program.stderr")"
  [ "$said" = "$program $version" ] || fail "$program --version said '$said', not '$program $version'"
done

# Each side lists the long options the other must have; the page writes '-' as '\-'.
"$prefix/bin/zemlix-sim" --help | grep -oE -- '--[a-z][a-z-]*' | LC_ALL=C sort -u >help-options.txt
zcat "$prefix/share/man/man1/zemlix-sim.1.gz" | grep -oE -- '\\-\\-[a-z]([a-z]|\\-)*' | sed 's/\\-/-/g' |
  LC_ALL=C sort -u >page-options.txt
[ -s help-options.txt ] || fail "zemlix-sim --help lists no options"
diff help-options.txt page-options.txt || fail "zemlix-sim(1) and zemlix-sim --help list different options (< help, > page)"

# The Python module, where the build has it: its component in a prefix of its own, where the
# interpreter it was built for imports it.
if compgen -G "$build/python/zemlix*.so" >/dev/null; then
  # The interpreter the build found (a cache entry only when given on the command line).
  python=$(sed -n 's/^_\{0,1\}Python_EXECUTABLE[^=]*=//p' "$build/CMakeCache.txt" | head -n 1)
  python=${python:-python3}
  cmake --install "$build" --component python --prefix "$scratch/python" >>"$scratch/install.log"
  site=$(sed -n 's/^ZEMLIX_PYTHON_INSTALL_DIR[^=]*=//p' "$build/CMakeCache.txt")
  (cd "$scratch/python" && find . -type f -printf '%P\n' | LC_ALL=C sort) >python-installed.txt
  printf '%s\n' "$site/$(basename "$build"/python/zemlix*.so)" "$site/zemlix.pyi" \
    share/doc/python3-zemlix/changelog.Debian.gz share/doc/python3-zemlix/copyright >python-expected.txt
  diff python-expected.txt python-installed.txt || fail "the python component's files differ (< expected, > installed)"
  said=$(. "$here/../python/sanitizer_runtime.sh" && preload_sanitizer_runtime "$build"/python/zemlix*.so &&
    PYTHONPATH=$scratch/python/$site "$python" -c 'import zemlix; print(zemlix.__version__, zemlix.__file__)') ||
    fail "the installed module does not import"
  [ "$said" = "$version $scratch/python/$site/$(basename "$build"/python/zemlix*.so)" ] ||
    fail "the installed module said '$said'"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "installed tree checked"
