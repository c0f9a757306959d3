# Sources of this part of the library, added to zorbelutilnd_objects.

# Certificate gathering, and the system certificate stores and chain engine
# it works with.
target_sources(zorbelutilnd_objects PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/certs/cert_store.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/certs/chain_engine.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/verify/certificate_gathering.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/certs/store_index.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/certs/zorbelutil_lib.cpp)

# The trust anchors of the time-stamp services in the system stores.
target_sources(zorbelutilnd_objects PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/verify/root_store_management.cpp)
