#!/bin/sh
# Builds the libFuzzer binaries with clang, AddressSanitizer and UBSan into
# build/fuzz-clang/fuzzers/: the plug-in's sources are compiled with coverage
# (-fsanitize=fuzzer-no-link), then each tests/fuzz/*_fuzz.cpp is linked against
# them with CEBRIDGE_LIBFUZZER defined. Run from anywhere. The emulator is not
# built here: clang does not link its sanitizer runtime into a shared library
# linked with --no-undefined; the emulator's entry loads a gcc-built libceemu.so.
set -eu
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir="$source_dir/build/fuzz-clang"
sanitizers=address,undefined

CC=clang CXX=clang++ cmake -G Ninja -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCEBRIDGE_SANITIZE=$sanitizers -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -DCEBRIDGE_BUILD_TESTS=OFF -DCEBRIDGE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target cebridge_internal -j2

mkdir -p "$build_dir/fuzzers"
for entry in "$source_dir"/tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$entry" .cpp)
    [ "$name" = pugxml_reader_fuzz ] && continue  # built on its own, see README.md
    echo "linking $name"
    clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,$sanitizers -fno-sanitize-recover=all \
        -DCEBRIDGE_LIBFUZZER -DCEBRIDGE_BUILDING_PLUGIN \
        -I"$source_dir/include" -I"$source_dir/plugin" \
        "$entry" "$build_dir/lib/libcebridge_internal.a" "$build_dir/lib/libpugxml.a" -lpthread -ldl \
        -o "$build_dir/fuzzers/$name"
done
