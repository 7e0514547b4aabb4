#!/usr/bin/env bash
# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (any report fails its test; the fuzz corpora are replayed as part of it), then
# every test that starts threads under ThreadSanitizer. Own build folders, -O1, no benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler_cache.sh
common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" -DZELVIC_BENCHMARKS=OFF
        "${launcher[@]}")
supp="$PWD/tests/sanitizer"

if [[ ! -f build-asan/build.ninja ]]; then
  cmake -S . -B build-asan "${common[@]}" -DZELVIC_SANITIZE=ON >&2
fi
cmake --build build-asan -j2 >&2
(cd build-asan &&
 ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
 UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" QT_QPA_PLATFORM=offscreen \
 ctest --output-on-failure -j2 --timeout 1800)

if [[ ! -f build-tsan/build.ninja ]]; then
  cmake -S . -B build-tsan "${common[@]}" -DZELVIC_TSAN=ON >&2
fi
# Every test that starts threads: the engines, the load pipeline, the cache,
# the scan workers and the search's pool, the command line's searches, the
# window's search thread and the review's picture thread.
tsan_tests=(compare identical similar cache search driver cli gui_main_window_controls_test gui_main_window_search_test
            gui_review_window_zoom_test gui_review_window_actions_test gui_review_window_keys_test gui_review_window_layout_test
            gui_review_turned_test gui_main_window_turned_test)
cmake --build build-tsan -j2 --target compare_tests identical_tests similar_tests cache_tests search_tests \
  driver_tests cli_tests main_window_controls_test main_window_search_test review_window_zoom_test \
  review_window_actions_test review_window_keys_test review_window_layout_test review_turned_test \
  main_window_turned_test zelvic-cli >&2
(cd build-tsan &&
 TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1" \
 QT_QPA_PLATFORM=offscreen \
 ctest --output-on-failure -j1 --timeout 1800 -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")
