# The Windows package of orvanscope-cli: `cpack -G ZIP` in the build directory
# of the `mingw-cli` preset makes orvanscope-cli-<version>-windows-x64.zip:
#
#   orvanscope-cli.exe             one file, linked statically
#   orvanscope-guide.html          the user guide (README.md), with docs/img/
#   orvanscope-cli.txt             the manual page as plain text
#   examples/KXconfig.dat, examples/KXpara.dat
#
# The guide and the manual page are made on the build machine: the guide with
# Python-Markdown, the manual page with groff; the text files get Windows line
# ends.
find_program(ORV_HOST_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_program(ORV_GROFF groff NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(NOT ORV_HOST_PYTHON)
  message(FATAL_ERROR "The guide needs /usr/bin/python3 with the markdown module (python3-markdown)")
endif()

set(orv_doc_dir ${CMAKE_BINARY_DIR}/windows-docs)
set(orv_guide ${orv_doc_dir}/orvanscope-guide.html)
set(orv_manual ${orv_doc_dir}/orvanscope-cli.txt)
add_custom_command(
  OUTPUT ${orv_guide}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${orv_doc_dir}
  COMMAND ${ORV_HOST_PYTHON} ${PROJECT_SOURCE_DIR}/packaging/markdown-to-html.py ${PROJECT_SOURCE_DIR}/README.md
          ${orv_guide} "Orvan-A-Scope ${PROJECT_VERSION}"
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/markdown-to-html.py
  COMMENT "The guide as HTML")
add_custom_command(
  OUTPUT ${orv_manual}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${orv_doc_dir}
  COMMAND ${CMAKE_COMMAND} -DGROFF=${ORV_GROFF} -DMANPAGE=${PROJECT_SOURCE_DIR}/docs/orvanscope-cli.1
          -DOUT=${orv_manual} -P ${PROJECT_SOURCE_DIR}/cmake/OrvManualText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/orvanscope-cli.1 ${PROJECT_SOURCE_DIR}/cmake/OrvManualText.cmake
  COMMENT "The manual page as text")
add_custom_target(orv_windows_docs ALL DEPENDS ${orv_guide} ${orv_manual})

install(TARGETS orvanscope-cli RUNTIME DESTINATION .)
install(FILES ${orv_guide} ${orv_manual} DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/img DESTINATION docs FILES_MATCHING PATTERN "*.png")
install(FILES ${PROJECT_SOURCE_DIR}/examples/KXconfig.dat ${PROJECT_SOURCE_DIR}/examples/KXpara.dat
        DESTINATION examples)

set(CPACK_PACKAGE_NAME orvanscope-cli)
set(CPACK_PACKAGE_VENDOR "Orvan-A-Scope developers")
set(CPACK_PACKAGE_FILE_NAME orvanscope-cli-${PROJECT_VERSION}-windows-x64)
set(CPACK_GENERATOR ZIP)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
