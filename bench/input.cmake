# Cost of the input path: parsing, admission and reconciliation into a
# recording sink, and the X11 sink on a virtual display.
find_package(benchmark REQUIRED)
add_executable(input_path_bench
  ${CMAKE_CURRENT_LIST_DIR}/input_path_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/recording_sink.cpp
)
target_include_directories(input_path_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(input_path_bench PRIVATE kelvarn_input kelvarn_platform benchmark::benchmark)
