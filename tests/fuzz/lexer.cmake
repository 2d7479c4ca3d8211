orv_fuzz_target(lexer lexer_fuzz.cpp DEPS orv_sql)
