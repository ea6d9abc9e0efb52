# cogitra_add_test(<name> SOURCES <files...> [DEPENDS <targets...>] [LABELS <labels...>] [GUI])
#
# One test program per unit. Core tests carry the label "core" (they also run in the
# sanitizer build); tests of the worker thread and the shared values also carry "threads"
# (they run under ThreadSanitizer too). GUI tests run on the offscreen platform with the
# web engine's sandbox off, which a headless run as root needs.
function(cogitra_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;DEPENDS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  if(NOT ARG_GUI)
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock)
    if(NOT "${ARG_SOURCES}" MATCHES "main\\.cpp")
      target_link_libraries(${name} PRIVATE cogitra_test_main)
    endif()
  endif()
  target_compile_definitions(${name} PRIVATE
    COGITRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    COGITRA_FIXTURES_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures")
  add_test(NAME ${name} COMMAND ${name})
  set(labels ${ARG_LABELS})
  if(NOT labels)
    if(ARG_GUI)
      set(labels gui)
    else()
      set(labels core)
    endif()
  endif()
  # Waits for a busy service shrink to a hundredth: tests see every retry, not the pauses.
  set(env "QT_QPA_PLATFORM=offscreen" "COGITRA_RETRY_SCALE=0.01")
  if(ARG_GUI)
    list(APPEND env "QTWEBENGINE_DISABLE_SANDBOX=1"
      "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox")
  endif()
  set(timeout 300)
  if(ARG_TIMEOUT)
    set(timeout ${ARG_TIMEOUT})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" ENVIRONMENT "${env}" TIMEOUT ${timeout})
  # Tests labelled "threads" also run under ThreadSanitizer; scripts/test builds just them.
  if("threads" IN_LIST labels)
    add_dependencies(cogitra_thread_tests ${name})
  endif()
endfunction()

# cogitra_add_xvfb_node_test(<name> <script> LABEL <label> [ENVIRONMENT <VAR=value>...])
#
# A node test script that drives real programs on a screen of its own (xvfb-run at
# 1280x800); such tests run one at a time. The caller checks that xvfb-run was found.
function(cogitra_add_xvfb_node_test name script)
  cmake_parse_arguments(ARG "" "LABEL" "ENVIRONMENT" ${ARGN})
  add_test(NAME ${name}
    COMMAND "${COGITRA_XVFB_RUN}" -a -s "-screen 0 1280x800x24"
            "${COGITRA_NODE_EXECUTABLE}" --experimental-websocket --test --test-reporter=spec
            "${CMAKE_CURRENT_SOURCE_DIR}/${script}"
    WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
  set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 600 RUN_SERIAL TRUE
    ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()
