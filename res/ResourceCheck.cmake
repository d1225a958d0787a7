# qm_add_resource_check(<exe target>): registers the "resources" test, which
# reads the built executable's resources and compares them with the expected
# dialogs, strings, icon, version block and manifest.
# Call it from the directory that defines the executable.

function(qm_add_resource_check exe_target)
  if(BUILD_TESTING)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    # A plain host command: the cross-compiling emulator applies only to
    # executable targets, so python runs natively on the build machine.
    add_test(NAME resources
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_resources.py
                     $<TARGET_FILE:${exe_target}>)
  endif()
endfunction()
