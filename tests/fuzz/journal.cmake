orv_fuzz_target(journal journal_fuzz.cpp DEPS orv_storage)
# Writes the seed corpus; built only when asked for. Run once: journal_corpus DIR.
add_executable(journal_corpus EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/journal_corpus.cpp)
target_link_libraries(journal_corpus PRIVATE orv_storage)
