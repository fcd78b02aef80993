# Warnings apply to our own targets only; system headers (asio, gtest) stay quiet.
function(zr_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
