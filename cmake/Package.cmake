# The "package" target: the release zip of the two executables (the dialog and its console
# twin), the licence and the two guides, with SHA256SUMS beside it, both in the top of the build
# tree. tools/make_package.py makes the zip byte-identical for the same commit;
# tools/check-reproducible.sh verifies that.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QM_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-win-x64.zip)
# Always run: the date inside comes from the latest commit, which the build cannot track.
add_custom_target(package
  COMMAND ${Python3_EXECUTABLE} -B ${PROJECT_SOURCE_DIR}/tools/make_package.py ${QM_PACKAGE_ZIP}
          --version ${PROJECT_VERSION} --source-dir ${PROJECT_SOURCE_DIR}
          binary:$<TARGET_FILE_NAME:Quillmarsh>=$<TARGET_FILE:Quillmarsh>
          binary:$<TARGET_FILE_NAME:QuillmarshCli>=$<TARGET_FILE:QuillmarshCli>
          text:LICENSE=${PROJECT_SOURCE_DIR}/LICENSE
          guide:README-ja.txt=${PROJECT_SOURCE_DIR}/docs/README-ja.txt
          guide:README-en.txt=${PROJECT_SOURCE_DIR}/docs/README-en.txt
  BYPRODUCTS ${QM_PACKAGE_ZIP} ${CMAKE_BINARY_DIR}/SHA256SUMS
  COMMENT "Packaging ${PROJECT_NAME}-${PROJECT_VERSION}-win-x64.zip"
  VERBATIM)
add_dependencies(package Quillmarsh QuillmarshCli)
