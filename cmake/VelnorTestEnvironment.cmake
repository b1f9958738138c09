# Every test runs headless, with its own runtime, config and data folders, so that it never
# touches the real user's files and tests can run in parallel; a media service that a test
# starts never announces itself on the machine's real networks.
#   velnor_test_environment(<test name>)
function(velnor_test_environment name)
  set(root ${CMAKE_CURRENT_BINARY_DIR}/home-${name})
  file(MAKE_DIRECTORY ${root}/run ${root}/config ${root}/data ${root}/cache)
  file(CHMOD ${root}/run DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software;HOME=${root};XDG_RUNTIME_DIR=${root}/run;XDG_CONFIG_HOME=${root}/config;XDG_DATA_HOME=${root}/data;XDG_CACHE_HOME=${root}/cache;QT_LOGGING_TO_CONSOLE=1;LC_ALL=C.UTF-8;VELNOR_NO_UPNP=1")
endfunction()
