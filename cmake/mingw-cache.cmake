# Where a library built for Windows by one of the scripts/build-*-mingw.sh waits: the cache
# variable `var` (from the environment variable of that name, else ~/.cache/varnok/`folder`),
# which must hold the script's .complete mark. `what` names the library in the messages.
function(varnok_mingw_cache var folder what script)
  if(DEFINED ENV{${var}})
    set(default "$ENV{${var}}")
  else()
    set(default "$ENV{HOME}/.cache/varnok/${folder}")
  endif()
  set(${var} "${default}" CACHE PATH "${what} built for Windows")
  if(NOT EXISTS "${${var}}/.complete")
    message(FATAL_ERROR "No ${what} for Windows in ${${var}}: run scripts/${script}")
  endif()
endfunction()
