#!/usr/bin/env bash
# Builds the Debian package from the finished build tree (nothing is compiled) in a scratch
# folder inside it, and checks its files and the dependencies dpkg-shlibdeps computed.
# Usage: debian_package.sh BUILD_DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
version=$2
scratch=$(mktemp -d "$build/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; exit 1; }
packages=("$scratch"/zemlix_"$version"-*_*.deb)
[ -f "${packages[0]}" ] || { echo "FAIL: no zemlix_$version-*.deb in $scratch"; ls "$scratch"; exit 1; }
package=${packages[0]}
packages=("$package")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | LC_ALL=C sort >"$scratch/files.txt"
LC_ALL=C sort "$here/installed-files.txt" >"$scratch/expected.txt"
diff "$scratch/expected.txt" "$scratch/files.txt" || fail "the package's files differ from installed-files.txt (< expected, > packaged)"
dpkg-deb -c "$package" | awk '$NF == "./usr/bin/zemlix" || $NF == "./usr/bin/zemlix-sim" {print $1}' |
  grep -qv '^-rwxr-xr-x$' && fail "an executable in the package is not mode 755"

[ "$(dpkg-deb -f "$package" Package)" = zemlix ] || fail "Package is not zemlix"
[ "$(dpkg-deb -f "$package" Version)" = "$version-1" ] || fail "Version is not $version-1"
depends=$(dpkg-deb -f "$package" Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] || fail "Depends lacks $library"
done

# A window built with FFmpeg's libraries records videos: the package must bring them.
if ldd "$build/app/zemlix" | grep -q libavcodec; then
  for library in libavcodec libavformat libswscale libavutil; do
    [[ ", $depends" =~ ,\ $library[0-9]+[\ ,] || ", $depends," =~ ,\ $library[0-9]+, ]] || fail "Depends lacks $library"
  done
fi

grep -q '^share/doc/zemlix/copyright$' "$scratch/files.txt" || fail "no copyright file"

# The cluster package, where the build has the MPI runner.
if [ -x "$build/mpi/zemlix-sim-mpi" ]; then
  mpi_packages=("$scratch"/zemlix-mpi_"$version"-*_*.deb)
  if [ -f "${mpi_packages[0]}" ]; then
    mpi_package=${mpi_packages[0]}
    dpkg-deb -c "$mpi_package" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | LC_ALL=C sort >"$scratch/mpi-files.txt"
    printf '%s\n' bin/zemlix-sim-mpi share/doc/zemlix-mpi/changelog.Debian.gz share/doc/zemlix-mpi/copyright \
      share/doc/zemlix-mpi/examples/zemlix-sweep.sbatch share/man/man1/zemlix-sim-mpi.1.gz >"$scratch/mpi-expected.txt"
    diff "$scratch/mpi-expected.txt" "$scratch/mpi-files.txt" || fail "zemlix-mpi's files differ (< expected, > packaged)"
    mpi_depends=$(dpkg-deb -f "$mpi_package" Depends)
    echo "zemlix-mpi Depends: $mpi_depends"
    for library in libopenmpi3 openmpi-bin; do
      [[ ", $mpi_depends," == *", $library"[\ ,]* ]] || fail "zemlix-mpi's Depends lacks $library"
    done
    packages+=("$mpi_package")
  else
    fail "no zemlix-mpi_$version-*.deb in $scratch"
  fi
fi

# The Python module's package, where the build has the module: its files, its dependencies,
# and the module imported from the unpacked package by the interpreter it was built for.
if compgen -G "$build/python/zemlix*.so" >/dev/null; then
  python_packages=("$scratch"/python3-zemlix_"$version"-*_*.deb)
  if [ -f "${python_packages[0]}" ]; then
    python_package=${python_packages[0]}
    module=$(basename "$build"/python/zemlix*.so)
    dpkg-deb -c "$python_package" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | LC_ALL=C sort >"$scratch/python-files.txt"
    printf '%s\n' "lib/python3/dist-packages/$module" lib/python3/dist-packages/zemlix.pyi \
      share/doc/python3-zemlix/changelog.Debian.gz share/doc/python3-zemlix/copyright >"$scratch/python-expected.txt"
    diff "$scratch/python-expected.txt" "$scratch/python-files.txt" || fail "python3-zemlix's files differ (< expected, > packaged)"
    python_depends=$(dpkg-deb -f "$python_package" Depends)
    echo "python3-zemlix Depends: $python_depends"
    for dependency in libc6 libstdc++6 python3-numpy "python3 (>="; do
      [[ ", $python_depends," == *", $dependency"* ]] || fail "python3-zemlix's Depends lacks $dependency"
    done
    dpkg-deb -x "$python_package" "$scratch/python-root"
    # The interpreter the build found (a cache entry only when given on the command line).
    python=$(sed -n 's/^_\{0,1\}Python_EXECUTABLE[^=]*=//p' "$build/CMakeCache.txt" | head -n 1)
    python=${python:-python3}
    said=$(. "$here/../python/sanitizer_runtime.sh" && preload_sanitizer_runtime "$build/python/$module" &&
      cd "$scratch" && PYTHONPATH=$scratch/python-root/usr/lib/python3/dist-packages "$python" -c \
      'import zemlix; print(zemlix.__version__)') || fail "the packaged module does not import"
    [ "$said" = "$version" ] || fail "the packaged module's __version__ is '$said', not '$version'"
    packages+=("$python_package")
  else
    fail "no python3-zemlix_$version-*.deb in $scratch"
  fi
fi

# Debian's own checks: no error and no warning, pedantic ones included.
if command -v lintian >/dev/null; then
  lintian --pedantic --suppress-tags running-with-root-privileges "${packages[@]}" >"$scratch/lintian.txt" 2>&1 || true
  grep -E '^[EWP]: ' "$scratch/lintian.txt" && fail "lintian found the problems above"
else
  fail "lintian is not installed (scripts/install-dependencies.sh installs it)"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checked: $(basename "$package")"
