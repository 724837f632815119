#!/usr/bin/env bash
# Builds the fuzzers with clang (ASan, UBSan, libFuzzer) and runs each in turn on
# one core: scripts/fuzz.sh [SECONDS_EACH [TARGET...]]. The corpora grow in
# build-fuzz/fuzz/corpus; a crash leaves its input in build-fuzz/fuzz/findings
# and ends the script with a failure.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-25}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_bmp fuzz_png fuzz_jpeg fuzz_jpeg_data fuzz_registry fuzz_metadata fuzz_webp fuzz_tiff
                                       fuzz_heif)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
  echo "fuzz: clang++ not found (scripts/setup.sh installs it)" >&2
  exit 1
fi
build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DVMK_FUZZ=ON -DVMK_TESTS=OFF \
      -DVMK_BENCH=OFF > /dev/null
cmake --build "$build" --target fuzzers
# PNG seeds: one small file of each colour type, depth and interlace method.
pngs=$build/fuzz/seeds/png
mkdir -p "$pngs"
if command -v convert > /dev/null; then
  n=0
  for args in "-colorspace gray -depth 1" "-colorspace gray -depth 4" "-colorspace gray" \
              "-colorspace gray -depth 16" "-colorspace gray -alpha set" "-colors 16 PNG8:" \
              "-define png:color-type=2" "-define png:color-type=2 -depth 16" "-alpha set" \
              "-alpha set -depth 16 -interlace PNG" "-interlace PNG"; do
    n=$((n + 1))
    prefix=""
    case $args in *PNG8:) prefix=PNG8:; args=${args% PNG8:} ;; esac
    # shellcheck disable=SC2086
    convert -seed 1 -size 9x7 plasma:fractal $args "$prefix$pngs/seed$n.png" 2> /dev/null || true
  done
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/fuzz/findings"
for target in "${targets[@]}"; do
  kind=${target#fuzz_}
  corpus=$build/fuzz/corpus/$kind
  seeds=$build/fuzz/seeds/$kind
  # The metadata fuzzer walks whole JPEG files' segments: the JPEG seeds serve it.
  [ "$kind" = metadata ] && seeds=$build/fuzz/seeds/jpeg
  mkdir -p "$corpus" "$seeds"
  echo "fuzz: $target for ${seconds}s"
  # A picture may legally need up to 1 GiB (kMaxPictureBytes) plus its pixels.
  log=$build/fuzz/$target.log
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=3072 -timeout=30 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz/findings/$target-" \
      "$corpus" "$seeds" > "$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target found a fault (input in $build/fuzz/findings)" >&2
    exit 1
  fi
done
