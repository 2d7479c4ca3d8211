orv_fuzz_target(decompress decompress_fuzz.cpp DEPS orv_protect)
# Writes the seed corpus; built only when asked for. Run once: decompress_corpus_gen DIR.
add_executable(decompress_corpus_gen EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/decompress_corpus_gen.cpp)
target_link_libraries(decompress_corpus_gen PRIVATE orv_protect)
