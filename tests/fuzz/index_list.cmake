orv_fuzz_target(index_list index_list_fuzz.cpp DEPS orv_storage)
