# libFuzzer targets of the remote-control input (clang only; included by fuzz/CMakeLists.txt).
add_kelvarn_fuzzer(input_event_fuzzer ${CMAKE_CURRENT_LIST_DIR}/input_event_fuzzer.cpp LIBRARIES kelvarn_input)
add_kelvarn_fuzzer(input_injector_fuzzer ${CMAKE_CURRENT_LIST_DIR}/input_injector_fuzzer.cpp
                   LIBRARIES kelvarn_test_support)
