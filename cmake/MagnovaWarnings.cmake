# Warnings are errors in our own code. GCC 12's maybe-uninitialized analysis
# reports false positives inside std::optional and Qt containers at -O2, so it
# stays a warning rather than an error.
function(magnova_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-error=maybe-uninitialized)
endfunction()
