# Shared build settings and helpers for the subsystem libraries, tests,
# benchmarks and fuzz targets.

add_library(qel_options INTERFACE)
target_compile_options(qel_options INTERFACE
  -Wall -Wextra -Werror -Wno-unused-parameter)
target_include_directories(qel_options INTERFACE ${CMAKE_SOURCE_DIR})
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # gcc 12 reports -Wrestrict falsely for "literal" + std::string at -O2 and above.
  target_compile_options(qel_options INTERFACE -Wno-restrict)
endif()
find_package(Threads REQUIRED)
target_link_libraries(qel_options INTERFACE Threads::Threads)

# A faster linker where one is installed: test programs are many, and linking
# them with the default linker is a good part of a build's time.
find_program(QEL_LLD NAMES ld.lld)
if(QEL_LLD)
  target_link_options(qel_options INTERFACE -fuse-ld=lld)
else()
  target_link_options(qel_options INTERFACE -fuse-ld=gold)
endif()

# QEL_SANITIZE and QEL_FUZZ may be set together (with clang): one build whose
# libraries serve both the sanitized tests and the fuzz targets.
if(QEL_SANITIZE OR QEL_FUZZ)
  # Undefined behaviour ends the run like a memory fault, so a test fails and
  # the fuzzer keeps the input instead of printing a warning and going on.
  target_compile_options(qel_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(qel_options INTERFACE -fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # The code asks for gcc's name of an AddressSanitizer build, which this
    # clang does not define.
    target_compile_definitions(qel_options INTERFACE __SANITIZE_ADDRESS__=1)
  endif()
endif()
if(QEL_TSAN)
  target_compile_options(qel_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(qel_options INTERFACE -fsanitize=thread)
endif()
# Coverage instrumentation for the fuzzer goes into the libraries and the fuzz
# targets only; only fuzz targets link the driver. Test programs stay
# uninstrumented: the libraries they call keep it, and the sanitizer runtime
# answers its calls when no fuzzer is linked.
set(QEL_COVERAGE_FLAGS "")
if(QEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QEL_FUZZ needs clang (libFuzzer)")
  endif()
  set(QEL_COVERAGE_FLAGS -fsanitize=fuzzer-no-link)
endif()

# Layers. Every library gets a rank: the platform areas first, in the order of
# QEL_PLATFORM_AREAS, then the subsystem folders in the order of QEL_SUBSYSTEMS.
# A library may link only libraries of a lower rank; qel_check_layers() (run at
# the end of the top CMakeLists) fails the configuration otherwise, whoever
# added the link.
function(qel_set_layer target rank)
  set_property(GLOBAL APPEND PROPERTY QEL_LAYERED_TARGETS ${target})
  set_property(GLOBAL PROPERTY QEL_LAYER_${target} ${rank})
endfunction()

function(qel_subsystem_rank name out)
  list(FIND QEL_SUBSYSTEMS ${name} idx)
  if(idx LESS 0)
    message(FATAL_ERROR "${name} is not a folder named in QEL_SUBSYSTEMS")
  endif()
  math(EXPR rank "(${idx} + 1) * 100")
  set(${out} ${rank} PARENT_SCOPE)
endfunction()

function(qel_check_layers)
  get_property(targets GLOBAL PROPERTY QEL_LAYERED_TARGETS)
  foreach(t IN LISTS targets)
    get_property(rank GLOBAL PROPERTY QEL_LAYER_${t})
    get_target_property(type ${t} TYPE)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(l ${t} LINK_LIBRARIES)
      if(l)
        list(APPEND links ${l})
      endif()
    endif()
    get_target_property(l ${t} INTERFACE_LINK_LIBRARIES)
    if(l)
      list(APPEND links ${l})
    endif()
    foreach(dep IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
      get_property(dep_rank GLOBAL PROPERTY QEL_LAYER_${dep})
      if(NOT dep_rank STREQUAL "" AND dep_rank GREATER_EQUAL rank)
        message(FATAL_ERROR "${t} links ${dep}, a library of the same or a higher layer")
      endif()
    endforeach()
  endforeach()
endfunction()

# qel_platform_area(<area> [DEPS <targets>...] [PRIVATE_LIBS <libs>...])
# Builds every .cpp below platform/<area>/ (backend folders included) into
# qel_platform_<area>. System libraries are linked PRIVATE: only the area's own
# sources see their headers.
function(qel_platform_area area)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(qel_platform_${area} STATIC ${srcs})
  target_link_libraries(qel_platform_${area} PUBLIC qel_options ${ARG_DEPS})
  target_compile_options(qel_platform_${area} PRIVATE ${QEL_COVERAGE_FLAGS})
  if(ARG_PRIVATE_LIBS)
    target_link_libraries(qel_platform_${area} PRIVATE ${ARG_PRIVATE_LIBS})
  endif()
  list(FIND QEL_PLATFORM_AREAS ${area} idx)
  if(idx LESS 0)
    message(FATAL_ERROR "platform area ${area} is not named in QEL_PLATFORM_AREAS")
  endif()
  math(EXPR rank "${idx} + 1")
  qel_set_layer(qel_platform_${area} ${rank})
endfunction()

# qel_subsystem(<name> [DEPS <targets>...] [PUBLIC_LIBS <libs>...])
# Builds every .cpp below the folder (backend folders included) into the
# static library qel_<name>.
function(qel_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;PUBLIC_LIBS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${pattern}")
  endforeach()
  if(srcs)
    add_library(qel_${name} STATIC ${srcs})
    target_link_libraries(qel_${name} PUBLIC qel_options ${ARG_DEPS} ${ARG_PUBLIC_LIBS})
    target_compile_options(qel_${name} PRIVATE ${QEL_COVERAGE_FLAGS})
  else()
    # A folder whose first sources have not arrived yet.
    add_library(qel_${name} INTERFACE)
    target_link_libraries(qel_${name} INTERFACE qel_options ${ARG_DEPS} ${ARG_PUBLIC_LIBS})
  endif()
  qel_subsystem_rank(${name} rank)
  qel_set_layer(qel_${name} ${rank})
endfunction()

# qel_test(<name> SOURCES <files>... DEPS <targets>...)
# One GoogleTest program; its tests are registered with CTest one by one.
# Test programs are many single-file programs, so their build time is mostly
# parsing GoogleTest and writing debug information: they share one
# precompiled GoogleTest header, and get line tables only (enough for
# sanitizer reports and debugger backtraces) without optimisation
# (they check the libraries, which keep the configuration's own flags).
function(qel_test_compile_options target)
  target_compile_options(${target} PRIVATE -g1 -O0)
endfunction()

function(qel_test_pch)
  if(TARGET qel_test_pch)
    return()
  endif()
  add_library(qel_test_pch OBJECT ${CMAKE_SOURCE_DIR}/cmake/TestPch.cpp)
  target_link_libraries(qel_test_pch PRIVATE qel_options GTest::gtest GTest::gmock)
  target_precompile_headers(qel_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  qel_test_compile_options(qel_test_pch)
endfunction()

function(qel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  qel_test_pch()
  add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/LeakSuppressions.cpp)
  target_link_libraries(${name} PRIVATE qel_options ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_precompile_headers(${name} REUSE_FROM qel_test_pch)
  qel_test_compile_options(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()

# Seconds each fuzz target runs in the fuzz stage of the test command. CI has
# 2 cores and runs 2 targets at once: with N targets the stage takes about
# N / 2 x (seconds + 3) s; keep it near 5 minutes (see fuzz/README.md).
set(QEL_FUZZ_SECONDS 15 CACHE STRING "Seconds each fuzz target runs under CTest")

# qel_fuzz(<name> SOURCES <files>... DEPS <targets>...
#          [MAX_LEN <bytes>] [SECONDS <s>] [DICT <file in fuzz/dict>]
#          [ARGS <further libFuzzer flags>...])
# A libFuzzer target, also registered as the CTest run fuzz.<name>: a bounded
# time (QEL_FUZZ_SECONDS unless SECONDS is given) over its seeds (the archive
# fuzz/corpus/<name>_seed_corpus.zip unpacked by fuzz/CMakeLists.txt, when
# present) with its dictionary. The options the test uses are written to
# <name>.options beside the program, so tools/fuzz-campaign.sh runs every
# target exactly as CI does, only longer.
# MAX_LEN is the longest input (4096 bytes unless given: text parsers; give
# containers and pictures more). Every target defines its input function
# with QEL_FUZZ_TARGET (fuzz/FuzzSupport.h), which fails an input that
# leaves more reference-counted objects alive than it found.
function(qel_fuzz name)
  cmake_parse_arguments(ARG "" "MAX_LEN;SECONDS;DICT" "SOURCES;DEPS;ARGS" ${ARGN})
  foreach(src IN LISTS ARG_SOURCES)
    file(READ ${src} text)
    if(text MATCHES "QEL_FUZZ_TARGET")
      set(checked TRUE)
    endif()
  endforeach()
  if(NOT checked)
    message(FATAL_ERROR "fuzz target ${name}: define the input function with QEL_FUZZ_TARGET (fuzz/FuzzSupport.h)")
  endif()
  if(NOT ARG_MAX_LEN)
    set(ARG_MAX_LEN 4096)
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS ${QEL_FUZZ_SECONDS})
  endif()
  add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/LeakSuppressions.cpp)
  target_link_libraries(${name} PRIVATE qel_options ${ARG_DEPS})
  target_compile_options(${name} PRIVATE ${QEL_COVERAGE_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(options -max_len=${ARG_MAX_LEN} -timeout=10 -rss_limit_mb=2048 ${ARG_ARGS})
  if(ARG_DICT)
    set(dict ${CMAKE_SOURCE_DIR}/fuzz/dict/${ARG_DICT})
    if(NOT EXISTS ${dict})
      message(FATAL_ERROR "fuzz target ${name}: no dictionary ${dict}")
    endif()
    list(APPEND options -dict=${dict})
  endif()
  qel_fuzz_seeds(${name} seeds campaign)
  list(JOIN options " " options_text)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.options
    "options=${options_text}\nseeds=${seeds}\ncampaign=${campaign}\n")
  add_test(NAME fuzz.${name}
    COMMAND sh ${CMAKE_SOURCE_DIR}/fuzz/run-fuzz-test.sh ${CMAKE_CURRENT_BINARY_DIR}/corpus-${name} "${seeds}"
      $<TARGET_FILE:${name}> ${options} -max_total_time=${ARG_SECONDS} -print_final_stats=1)
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# qel_bench(<name> SOURCES <files>... DEPS <targets>...)
function(qel_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/LeakSuppressions.cpp)
  target_link_libraries(${name} PRIVATE qel_options ${ARG_DEPS} benchmark::benchmark)
endfunction()

# qel_test_folder(DEPS <targets>... [SUPPORT])
# Every <name>_test.cpp in the calling folder becomes its own GoogleTest
# program <folder>_<name>; files named <name>_mt_test.cpp run real threads and
# get the "threads" label, so the ThreadSanitizer build runs them too.
function(qel_test_folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src IN LISTS tests)
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "_test$" "" stem ${stem})
    # One label only: gtest_discover_tests flattens a list of labels into
    # its PROPERTIES pairs.
    set(labels ${folder})
    if(stem MATCHES "_mt$")
      set(labels threads)
    endif()
    set(deps ${ARG_DEPS})
    if(TARGET qel_test_support)
      list(APPEND deps qel_test_support)
    endif()
    qel_test(${folder}_${stem} SOURCES ${src} DEPS ${deps} LABELS "${labels}")
  endforeach()
endfunction()
include(${CMAKE_CURRENT_LIST_DIR}/QelResources.cmake)
