# Makes the manual page: the template with the sections the program prints
# from the tables its --help is made of (qmlsetup --manual).
execute_process(COMMAND ${PROGRAM} --manual OUTPUT_VARIABLE sections RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "qmlsetup --manual failed")
endif()
file(READ ${TEMPLATE} page)
string(REPLACE "@GENERATED@" "${sections}" page "${page}")
file(WRITE ${OUT} "${page}")
