# Installs the manual pages and the package's changelog compressed, as Debian keeps
# them (gzip -9n: no name or time stamp inside), and its copyright file.
set(QLX_DOC_STAGE "${QLX_STAGE}/doc")
file(MAKE_DIRECTORY "${QLX_DOC_STAGE}")
function(qlx_gzip source target)
  execute_process(COMMAND gzip -9n -c "${source}" OUTPUT_FILE "${target}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
endfunction()
foreach(page qlxhost qlx02600-server qlx02600-gen)
  qlx_gzip("${QLX_SOURCE_DIR}/docs/man/${page}.1" "${QLX_DOC_STAGE}/${page}.1.gz")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/man/man1" TYPE FILE FILES "${QLX_DOC_STAGE}/${page}.1.gz")
endforeach()
qlx_gzip("${QLX_PACKAGING_DIR}/changelog" "${QLX_DOC_STAGE}/changelog.gz")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/doc/qlx02600" TYPE FILE
     FILES "${QLX_DOC_STAGE}/changelog.gz" "${QLX_PACKAGING_DIR}/copyright")
