orv_fuzz_target(container_fs container_fs_fuzz.cpp DEPS orv_files)
# Writes the seed corpus; built only when asked for. Run once: container_fs_corpus DIR.
add_executable(container_fs_corpus EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/container_fs_corpus.cpp)
target_link_libraries(container_fs_corpus PRIVATE orv_files)
