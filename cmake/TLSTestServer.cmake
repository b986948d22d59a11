# The TLS server the Windows tests use: testing/tls-nginx, started by a ctest fixture on a loopback port chosen when
# this build folder is configured (the test build of the program is built to fetch from it), stopped after them.
if(NOT BRASKO_TLS_TEST_PORT)
  execute_process(
    COMMAND python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
    OUTPUT_VARIABLE chosen_port OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(BRASKO_TLS_TEST_PORT ${chosen_port} CACHE STRING "Loopback port of the TLS test server")
endif()
set(BRASKO_TLS_NGINX_FOLDER ${CMAKE_BINARY_DIR}/tls-nginx)
add_test(NAME TLSNginxStart
         COMMAND ${PROJECT_SOURCE_DIR}/testing/tls-nginx start ${BRASKO_TLS_NGINX_FOLDER} ${BRASKO_TLS_TEST_PORT})
add_test(NAME TLSNginxStop
         COMMAND ${PROJECT_SOURCE_DIR}/testing/tls-nginx stop ${BRASKO_TLS_NGINX_FOLDER} ${BRASKO_TLS_TEST_PORT})
set_tests_properties(TLSNginxStart PROPERTIES FIXTURES_SETUP tls_nginx)
set_tests_properties(TLSNginxStop PROPERTIES FIXTURES_CLEANUP tls_nginx)
