# The layer check fails on a copy of src/ that breaks each layer once.
file(REMOVE_RECURSE "${WORK}")
file(COPY "${SOURCE_DIR}/" DESTINATION "${WORK}")
file(APPEND "${WORK}/httpServer/httpresponse.cpp" "#include \"modbusengine.h\"\n")
file(APPEND "${WORK}/platform/tcpprobe.cpp" "#include \"httprequest.h\"\n")
file(APPEND "${WORK}/modbusengine.cpp" "#include <QTcpSocket>\n")
file(APPEND "${WORK}/httpServer/ipchelper.cpp" "#include <QProcess>\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${WORK} -P "${CHECK}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE_RECURSE "${WORK}")
foreach(expected
        "src/httpServer/httpresponse.cpp includes \"modbusengine.h\""
        "src/platform/tcpprobe.cpp includes \"httprequest.h\""
        "src/modbusengine.cpp includes <QTcpSocket>"
        "src/httpServer/ipchelper.cpp includes <QProcess>"
        "4 include\\(s\\) break the layers")
    if(result EQUAL 0 OR NOT output MATCHES "${expected}")
        message(FATAL_ERROR "the layer check missed: ${expected}\n${output}")
    endif()
endforeach()
