# qm_add_resource_check(<exe target> [<test name>]): registers the test ("resources"
# unless named), which reads the built executable's resources and imports and
# compares them with what that executable must hold (the dialog program's dialogs,
# strings, icon, version block, manifest and DLL names; the console program's
# icon, version block, manifest and DLL names). Call it from the directory that
# defines the executable.

# find_program validator: the interpreter must be able to import pefile.
function(qm_python_has_pefile result candidate)
  execute_process(COMMAND ${candidate} -B -c "import pefile"
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(qm_add_resource_check exe_target)
  set(test_name resources)
  if(ARGC GREATER 1)
    set(test_name ${ARGV1})
  endif()
  if(BUILD_TESTING)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    # The check reads the image with pefile, which the system's Python has from its
    # package; a Python that comes first on PATH (a version manager's) may lack it.
    set(ok TRUE)
    qm_python_has_pefile(ok ${Python3_EXECUTABLE})
    if(ok)
      set(QM_PEFILE_PYTHON ${Python3_EXECUTABLE} CACHE FILEPATH "Python 3 that has pefile")
    else()
      find_program(QM_PEFILE_PYTHON NAMES python3 python VALIDATOR qm_python_has_pefile
                   DOC "Python 3 that has pefile")
    endif()
    if(NOT QM_PEFILE_PYTHON)
      # The test still runs, and fails naming the missing module.
      message(WARNING "No Python with pefile found (tools/install-deps.sh installs it); "
                      "the resources test will fail")
      set(QM_PEFILE_PYTHON ${Python3_EXECUTABLE})
    endif()
    # A plain host command: the cross-compiling emulator applies only to
    # executable targets, so python runs natively on the build machine.
    add_test(NAME ${test_name}
             COMMAND ${QM_PEFILE_PYTHON} -B ${PROJECT_SOURCE_DIR}/tools/check_resources.py
                     $<TARGET_FILE:${exe_target}>)
  endif()
endfunction()
