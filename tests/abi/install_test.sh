#!/bin/sh
# Installs the build into a temporary prefix, builds a C11 program against
# it once with pkg-config and once with CMake's find_package, and runs both.
# usage: install_test.sh BUILD_DIR THIS_DIR [EXTRA_CFLAGS]
set -eu
build=$1
here=$2
extra=${3:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(ls -d "$prefix"/lib* | head -n 1)
for module in "$libdir"/libzorbelutilnd.so.5 "$libdir"/libzorbelutilndDEU.so; do
  [ -e "$module" ] || { echo "not installed: $module"; exit 1; }
done

expected="5 0 101
Signatureigenschaften"

for file in share/man/man1/zorbelu.1 share/bash-completion/completions/zorbelu bin/zorbelu; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
bash -n "$prefix/share/bash-completion/completions/zorbelu"
# The completion offers the options the program's own help lists.
offered=$(bash -c '. "$1/share/bash-completion/completions/zorbelu"; COMP_WORDS=("$1/bin/zorbelu" verify --pol)
  COMP_CWORD=2; _zorbelu; echo "${COMPREPLY[*]}"' sh "$prefix")
[ "$offered" = "--policy" ] || { echo "completion of 'verify --pol': $offered"; exit 1; }

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# One version everywhere: the library's own (ZORBELUGetLibVer, printed below).
pkg-config --atleast-version 5.0.101 zorbelutilnd || { echo "pkg-config: zorbelutilnd $(pkg-config --modversion zorbelutilnd) < 5.0.101"; exit 1; }
case " $(pkg-config --libs zorbel) " in
  *" -lzorbel "*) ;;
  *) echo "pkg-config --libs zorbel: $(pkg-config --libs zorbel)"; exit 1 ;;
esac
# shellcheck disable=SC2046
gcc -std=c11 -pedantic -Wall -Wextra -Werror $extra -o "$prefix/consumer" "$here/c11_consumer.c" \
  $(pkg-config --cflags --libs zorbelutilnd) -Wl,-rpath,"$libdir"
actual=$("$prefix/consumer")
[ "$actual" = "$expected" ] || { printf 'pkg-config consumer printed:\n%s\n' "$actual"; exit 1; }

cmake -S "$here/cmake_consumer" -B "$prefix/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" >/dev/null
cmake --build "$prefix/cmake-build" >/dev/null
actual=$("$prefix/cmake-build/consumer")
[ "$actual" = "$expected" ] || { printf 'CMake consumer printed:\n%s\n' "$actual"; exit 1; }
echo "installed library serves C11 programs through pkg-config and CMake"
