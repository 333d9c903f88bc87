# qscan_warnings(target): the project's warning flags, errors with QSCAN_WERROR.
function(qscan_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(QSCAN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
