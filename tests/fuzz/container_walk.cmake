orv_fuzz_target(container_walk container_walk_fuzz.cpp DEPS orv_files)
# Writes the seed corpus; built only when asked for.
add_executable(container_walk_corpus EXCLUDE_FROM_ALL
               ${CMAKE_CURRENT_LIST_DIR}/container_walk_corpus.cpp)
target_link_libraries(container_walk_corpus PRIVATE orv_files)
