# The HTTP server the tests meet: testing/nginx (plain and TLS servers), started by a ctest fixture before the tests
# that need it and stopped after them. Its TLS server "good" listens on a loopback port chosen when this build folder
# is configured, because the test build of the program is built to fetch from it.
if(NOT BRASKO_NGINX_TEST_PORT)
  execute_process(
    COMMAND python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
    OUTPUT_VARIABLE chosen_port OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(BRASKO_NGINX_TEST_PORT ${chosen_port} CACHE STRING "Loopback port of the test server's TLS server")
endif()
set(BRASKO_NGINX_FOLDER ${CMAKE_BINARY_DIR}/nginx)
add_test(NAME NginxStart COMMAND ${PROJECT_SOURCE_DIR}/testing/nginx start ${BRASKO_NGINX_FOLDER} ${BRASKO_NGINX_TEST_PORT})
add_test(NAME NginxStop COMMAND ${PROJECT_SOURCE_DIR}/testing/nginx stop ${BRASKO_NGINX_FOLDER} ${BRASKO_NGINX_TEST_PORT})
set_tests_properties(NginxStart PROPERTIES FIXTURES_SETUP nginx)
set_tests_properties(NginxStop PROPERTIES FIXTURES_CLEANUP nginx)
