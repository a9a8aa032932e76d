# Sources a fuzz target needs beyond the library, for the fuzzer and its replay alike.
function(lumek_fuzz_extras target short)
  if(short STREQUAL "whlist_file")
    # The reference daemon's file codec is not part of the library.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/standin/daemon/whlist_file.cpp)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/standin/daemon)
  endif()
endfunction()
