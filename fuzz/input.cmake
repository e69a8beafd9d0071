# libFuzzer targets of the remote-control input (clang only). The library is
# instrumented for coverage too, or the fuzzer would see only its own file.
target_compile_options(kelvarn_core PRIVATE -fsanitize=fuzzer-no-link)
foreach(target input_event_fuzzer input_injector_fuzzer)
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${target} PRIVATE kelvarn_core)
endforeach()
target_sources(input_injector_fuzzer PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/recording_sink.cpp)
target_include_directories(input_injector_fuzzer PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
