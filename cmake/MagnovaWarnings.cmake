# Warnings are errors in our own code.
function(magnova_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
