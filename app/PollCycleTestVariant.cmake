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

block(SCOPE_FOR VARIABLES)
  set(BRASKO_SITE_HOST "127.0.0.1:${BRASKO_POLL_TEST_PORT}")
  set(BRASKO_AUTHOR_URL "http://127.0.0.1:${BRASKO_POLL_TEST_PORT}")
  set(BRASKO_POLL_PERIOD_MS ${BRASKO_POLL_TEST_PERIOD_MS})
  set(BRASKO_READ_TIMEOUT_MS ${BRASKO_POLL_TEST_READ_TIMEOUT_MS})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/BraskoConfig.h.in ${CMAKE_BINARY_DIR}/generated-poll-test/BraskoConfig.h
                 @ONLY)
endblock()

add_library(brasko_app_win_poll_test STATIC Unit1.cpp)
# Ahead of every other include folder, so this copy of BraskoConfig.h is the one Unit1.cpp sees.
target_include_directories(brasko_app_win_poll_test BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated-poll-test)
target_link_libraries(brasko_app_win_poll_test PUBLIC brasko_unit2 brasko_tray brasko_gui brasko_net)
target_compile_definitions(brasko_app_win_poll_test INTERFACE BRASKO_POLL_TEST_PORT=${BRASKO_POLL_TEST_PORT}
                           BRASKO_POLL_TEST_PERIOD_MS=${BRASKO_POLL_TEST_PERIOD_MS}
                           BRASKO_POLL_TEST_READ_TIMEOUT_MS=${BRASKO_POLL_TEST_READ_TIMEOUT_MS})

add_executable(BraskoPollTest WIN32 main.cpp Brasko.rc)
target_link_libraries(BraskoPollTest PRIVATE brasko_app_win_poll_test)
set_target_properties(BraskoPollTest PROPERTIES OUTPUT_NAME Brasko
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/poll-test-variant)
