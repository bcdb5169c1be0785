# Warnings are shown in every build and are errors in the builds the tests
# make (MAGNOVA_WERROR): a newer compiler's new warning must never stop a
# user's build. GCC 12's maybe-uninitialized analysis reports false positives
# inside std::optional and Qt containers at -O2, so it never stops a build.
option(MAGNOVA_WERROR "Turn the compiler's warnings into errors" OFF)

function(magnova_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(MAGNOVA_WERROR)
    target_compile_options(${target} PRIVATE -Werror -Wno-error=maybe-uninitialized)
  endif()
endfunction()
