# Every target of ours gets the same warning set; third-party code (GoogleTest) does not.
function(qm_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 /permissive-)
    if(QM_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                                                 _CRT_SECURE_NO_WARNINGS)
    # Same sources, same bytes: no time stamps in objects or images (the incremental linking
    # of Debug builds does not go with it).
    target_compile_options(${target} PRIVATE /Brepro)
    target_link_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:/Brepro>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wpedantic)
    if(QM_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(WIN32)
      target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
      # Same sources, same bytes, wherever the tree lies: no link time stamp, no absolute paths.
      target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
      target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
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
  endif()
endfunction()
