# Every target of ours gets the same warning set; third-party code (GoogleTest) does not.
function(qm_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 /permissive-)
    if(QM_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wpedantic)
    if(QM_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(WIN32)
      target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
    endif()
  endif()
  if(QM_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(QM_FUZZ)
    # Coverage for libFuzzer in every library; only the fuzz targets link libFuzzer itself.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    # Clang counts the file class's `system` attribute (the framework's name) as shadowing the
    # C library's system(); g++ in the host preset keeps -Wshadow in force.
    target_compile_options(${target} PRIVATE -Wno-shadow)
  endif()
endfunction()
