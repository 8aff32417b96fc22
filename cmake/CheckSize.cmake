cmake_minimum_required(VERSION 3.25)
# Fails the build when IMAGE is larger than MAX_BYTES.
# Run with -DIMAGE=<file> -DMAX_BYTES=<n>.
file(SIZE ${IMAGE} size)
if(size GREATER MAX_BYTES)
  message(FATAL_ERROR "${IMAGE} is ${size} bytes, over its limit of ${MAX_BYTES}")
endif()
