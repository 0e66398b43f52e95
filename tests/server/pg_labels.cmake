# Read by ctest after the discovered cases: the PostgreSQL half of the server suite, and of the
# several-instances test, is labelled both pg and server.
foreach(name IN LISTS eftmemb_server_pg_tests eft_instances_pg_tests)
  set_tests_properties("${name}" PROPERTIES LABELS "server;pg")
endforeach()
