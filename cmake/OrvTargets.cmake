# orv_library(NAME DIR DEPS...): a static library of every .cpp in DIR.
function(orv_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# orv_tests(DEPS...): one test program per *_test.cpp in the current folder.
function(orv_tests)
  cmake_parse_arguments(ARG "" "" "DEPS;ENV" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(src ${tests})
    get_filename_component(base ${src} NAME_WE)
    set(target ${folder}_${base})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} orv_testing GTest::gtest GTest::gtest_main
                                            GTest::gmock)
    target_compile_definitions(${target} PRIVATE
                               ORV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${folder}."
                         PROPERTIES ENVIRONMENT "${ARG_ENV}")
  endforeach()
endfunction()

# orv_fuzz_target(NAME SOURCE DEPS...): a fuzz entry point. Always built as a program that
# replays tests/fuzz/corpus/NAME under ctest; with ORV_FUZZ also as a libFuzzer binary.
function(orv_fuzz_target name src)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name}_replay ${src} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS})
  add_test(NAME fuzz.${name}.replay
           COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  if(ORV_FUZZ)
    add_executable(${name}_fuzzer ${src})
    target_link_libraries(${name}_fuzzer PRIVATE ${ARG_DEPS})
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()

# orv_bench(): one benchmark program per *_bench.cpp in the current folder.
function(orv_benches)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_bench.cpp)
  foreach(src ${benches})
    get_filename_component(base ${src} NAME_WE)
    add_executable(${base} ${src})
    target_link_libraries(${base} PRIVATE ${ARG_DEPS})
  endforeach()
endfunction()
