#!/usr/bin/env bash
# Fuzzes each libFuzzer target (tests/fuzz/*_fuzz.cpp) for a short, fixed time
# as the last step of CI:
#   scripts/fuzz_ci.sh [SECONDS [TARGET...]]     SECONDS a target, default 30; every target
# Builds the targets with clang 14 in build-fuzz/ (the folder tests/fuzz/run
# uses). A crash, leak, out-of-memory or timeout fails; its input is copied into
# the target's committed corpus under its SHA-1, so that ./test replays it from
# then on, and what to do next is printed. New inputs that merely add coverage
# are dropped: the committed corpora are grown by hand with tests/fuzz/run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz_ci.sh [SECONDS [TARGET...]]" >&2
  exit 2
fi
shift $(($# > 0 ? 1 : 0))

# clang 14 with its libFuzzer and sanitizer runtimes; llvm-symbolizer for the stacks.
packages=(clang-14 libclang-rt-14-dev llvm-14)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)

build="$root/build-fuzz"
targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in tests/fuzz/*_fuzz.cpp; do
    name="${source##*/}"
    targets+=("${name%_fuzz.cpp}")
  done
fi
for target in "${targets[@]}"; do
  if [[ ! -f "tests/fuzz/${target}_fuzz.cpp" ]]; then
    echo "scripts/fuzz_ci.sh: no fuzz target $target (tests/fuzz/${target}_fuzz.cpp)" >&2
    exit 2
  fi
done
source scripts/compiler_cache.sh
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
        -DCMAKE_CXX_COMPILER=clang++-14 -DZELVIC_FUZZ=ON -DZELVIC_BENCHMARKS=OFF "${launcher[@]}" >&2
fi
build_start=$SECONDS
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}" >&2
echo "fuzz: targets built in $((SECONDS - build_start)) s" >&2

# Each run starts from the committed corpus in a scratch folder of its own, so
# that what one CI run found does not steer the next.
work="$build/ci"
rm -rf "$work"
# The mutations follow a seed taken from the commit under test: another
# commit explores elsewhere, while a second run of the same commit finds the
# same things (a finding is then the commit's, not the luck of the run).
seed=1
if commit=$(git rev-parse --verify -q HEAD 2>/dev/null); then
  seed=$((16#${commit:0:7} + 1))
fi
echo "fuzz: seed $seed (-seed=$seed reruns a target's mutations)" >&2
failed=()
for target in "${targets[@]}"; do
  corpus="$work/corpus/$target"
  artifacts="$work/artifacts/$target"
  log="$work/$target.log"
  mkdir -p "$corpus" "$artifacts"
  status=0
  (cd "$artifacts" &&
   ASAN_SYMBOLIZER_PATH="$symbolizer" \
   LSAN_OPTIONS="suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0" \
   "$build/${target}_fuzz" "$corpus" "$root/tests/fuzz/corpus/$target" \
     -seed="$seed" -max_total_time="$seconds" -malloc_limit_mb=2048 -rss_limit_mb=2560 -timeout=10 \
     -artifact_prefix="$artifacts/" -print_final_stats=1) >"$log" 2>&1 || status=$?
  findings=()
  for file in "$artifacts"/*; do
    [[ -f "$file" ]] || continue
    case "${file##*/}" in
      crash-* | leak-* | oom-* | timeout-*) findings+=("$file") ;;
      *) echo "fuzz: $target: ${file##*/} noted, not a failure" >&2 ;;
    esac
  done
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if ((status == 0 && ${#findings[@]} == 0)); then
    echo "fuzz: $target: ${runs:-?} runs in ${seconds} s, nothing found; $(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)" >&2
    continue
  fi

  failed+=("$target")
  echo "fuzz: $target FAILED (exit status $status); the end of its log ($log):" >&2
  tail -n 60 "$log" >&2
  if ((${#findings[@]} == 0)); then
    echo "fuzz: $target stopped without leaving an input: see the log above" >&2
    continue
  fi
  for file in "${findings[@]}"; do
    kind="${file##*/}"
    kind="${kind%%-*}"
    hash=$(sha1sum "$file" | cut -d' ' -f1)
    kept="tests/fuzz/corpus/$target/$hash"
    cp "$file" "$root/$kept"
    cat >&2 <<EOF

fuzz: $target: a $kind, its input kept as $kept
  Reproduce it:  build-fuzz/${target}_fuzz $kept
  ./test replays it as ctest fuzz_$target from now on: a crash or a failed check fails there
  until the fault is fixed (a timeout or an out-of-memory may only make it slow).
  To do: fix the fault, then add a line to tests/fuzz/corpus/README.md saying what it caught:
    - \`$target/$hash\`: <the fault it caught, and the commit that fixed it>
  and commit both:  git add $kept tests/fuzz/corpus/README.md
EOF
    # A CI workspace is thrown away: the log alone must be enough to get the input back.
    size=$(stat -c %s "$file")
    if ((size <= 65536)); then
      echo "  The input ($size bytes), to restore with: base64 -d > $kept" >&2
      base64 "$file" >&2
    else
      echo "  The input is $size bytes: too large to print; keep $artifacts" >&2
    fi
  done
done

if ((${#failed[@]})); then
  echo "fuzz: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, ${seconds} s each, nothing found" >&2
