# Test programs never fetch from the real site. They link a build of the main window (Unit1) whose poll cycle fetches
# from 127.0.0.1 on a port chosen when this build folder is configured, with a short poll period, and the tests of
# the whole program run Brasko.exe built from it (poll-test-variant/Brasko.exe beside the test programs). That
# build differs from the program only in the build settings of BraskoConfig.h, here taken from a second
# generated copy of it; the page builder keeps the folder's settings for its links.

if(NOT BRASKO_POLL_TEST_PORT)
  # A port nothing listened on at configure time. Other build folders get their own, so test runs in parallel
  # folders do not meet.
  execute_process(
    COMMAND python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
    OUTPUT_VARIABLE chosen_port OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE port_status)
  if(NOT port_status EQUAL 0 OR NOT chosen_port MATCHES "^[0-9]+$")
    string(MD5 folder_hash "${CMAKE_BINARY_DIR}")
    string(SUBSTRING "${folder_hash}" 0 4 folder_hash)
    math(EXPR chosen_port "20000 + (0x${folder_hash} % 20000)" OUTPUT_FORMAT DECIMAL)
  endif()
  set(BRASKO_POLL_TEST_PORT ${chosen_port} CACHE STRING "Loopback port the test build of the poll cycle fetches from")
endif()
set(BRASKO_POLL_TEST_PERIOD_MS 1500 CACHE STRING "Poll period of the test build of the poll cycle")
set(BRASKO_POLL_TEST_READ_TIMEOUT_MS 2000 CACHE STRING "Read and connect time-out of the test build of the poll cycle")
set(BRASKO_POLL_TEST_NETWORK_WAIT_MS 8000 CACHE STRING
    "Longest wait for the network at start and after a wake in the test build of the poll cycle")

# brasko_poll_test_variant(<name> <scheme> <host:port> <folder>): a library of the main window built with that
# site and the test period and time-out, and Brasko.exe built from it into <folder> beside the test programs.
function(brasko_poll_test_variant name scheme host folder)
  set(BRASKO_SITE_SCHEME ${scheme})
  set(BRASKO_SITE_HOST ${host})
  set(BRASKO_AUTHOR_URL "${scheme}://${host}")
  set(BRASKO_POLL_PERIOD_MS ${BRASKO_POLL_TEST_PERIOD_MS})
  set(BRASKO_READ_TIMEOUT_MS ${BRASKO_POLL_TEST_READ_TIMEOUT_MS})
  set(BRASKO_NETWORK_WAIT_MS ${BRASKO_POLL_TEST_NETWORK_WAIT_MS})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/BraskoConfig.h.in ${CMAKE_BINARY_DIR}/generated-${folder}/BraskoConfig.h
                 @ONLY)
  add_library(brasko_app_win_${name} STATIC Unit1.cpp)
  # Ahead of every other include folder, so this copy of BraskoConfig.h is the one Unit1.cpp sees.
  target_include_directories(brasko_app_win_${name} BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated-${folder})
  target_link_libraries(brasko_app_win_${name} PUBLIC brasko_unit2 brasko_tray brasko_gui brasko_net
                        brasko_network_wait brasko_poll_schedule)
  add_executable(Brasko_${name} WIN32 main.cpp Brasko.rc)
  target_link_libraries(Brasko_${name} PRIVATE brasko_app_win_${name})
  set_target_properties(Brasko_${name} PROPERTIES OUTPUT_NAME Brasko
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${folder})
endfunction()

brasko_poll_test_variant(poll_test http "127.0.0.1:${BRASKO_POLL_TEST_PORT}" poll-test-variant)
target_compile_definitions(brasko_app_win_poll_test INTERFACE BRASKO_POLL_TEST_PORT=${BRASKO_POLL_TEST_PORT}
                           BRASKO_POLL_TEST_PERIOD_MS=${BRASKO_POLL_TEST_PERIOD_MS}
                           BRASKO_POLL_TEST_READ_TIMEOUT_MS=${BRASKO_POLL_TEST_READ_TIMEOUT_MS}
                           BRASKO_POLL_TEST_NETWORK_WAIT_MS=${BRASKO_POLL_TEST_NETWORK_WAIT_MS})

# The same over TLS, against the TLS test server (by name, as a certificate names it).
brasko_poll_test_variant(poll_test_tls https "localhost:${BRASKO_NGINX_TEST_PORT}" poll-test-tls)
