#!/bin/sh
# Builds the libFuzzer binaries with clang, AddressSanitizer and UBSan into
# build/fuzz-clang/fuzzers/: the plug-in's sources are compiled with coverage
# (-fsanitize=fuzzer-no-link), then each tests/fuzz/*_fuzz.cpp is linked against
# them with CEBRIDGE_LIBFUZZER defined; the host's entry compiles the host's answer
# readers along with it, and the emulator's entry the emulator's code (its static
# library, built here with coverage too). Run from anywhere.
set -eu
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir="$source_dir/build/fuzz-clang"
sanitizers=address,undefined

CC=clang CXX=clang++ cmake -G Ninja -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCEBRIDGE_SANITIZE=$sanitizers -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -DCEBRIDGE_BUILD_TESTS=OFF -DCEBRIDGE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target cebridge_internal ceemu_internal -j "${CEBRIDGE_JOBS:-2}"

mkdir -p "$build_dir/fuzzers"
for entry in "$source_dir"/tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$entry" .cpp)
    extra=
    archives=
    case "$name" in
        host_answer_fuzz)
            extra="-I$source_dir/host $source_dir/host/agent_client.cpp $source_dir/host/xml_answer.cpp $source_dir/host/item_text.cpp $source_dir/host/text.cpp $source_dir/host/appointment_time.cpp" ;;
        emulator_tobrann_fuzz)
            extra="-DCEBRIDGE_EMULATOR_LINKED_IN"
            archives="$build_dir/lib/libceemu_internal.a" ;;
        pugxml_reader_fuzz)
            extra="-I$source_dir/plugin/xml" ;;
    esac
    echo "linking $name"
    # shellcheck disable=SC2086  # $extra and $archives are lists of words
    clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,$sanitizers -fno-sanitize-recover=all \
        -DCEBRIDGE_LIBFUZZER -DCEBRIDGE_BUILDING_PLUGIN \
        -I"$source_dir/include" -I"$source_dir/plugin" $extra \
        "$entry" $archives "$build_dir/lib/libcebridge_internal.a" "$build_dir/lib/libpugxml.a" -lpthread -ldl \
        -o "$build_dir/fuzzers/$name"
done
