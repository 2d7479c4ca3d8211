orv_fuzz_target(table_files table_files_fuzz.cpp DEPS orv_storage)
# Writes the seed corpus; built only when asked for. Run once: table_files_corpus DIR.
add_executable(table_files_corpus EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/table_files_corpus.cpp)
target_link_libraries(table_files_corpus PRIVATE orv_storage)
