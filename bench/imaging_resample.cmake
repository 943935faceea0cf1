# Downscaling a 24-megapixel photo to 1920 x 1080 with the bilinear and the
# filtered resampler, each beside a plain separable reference, and the soft
# shadow of a 1920 x 1080 picture beside a plain full-size separable blur.
qel_bench(imaging_resample_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_resample_bench.cpp DEPS qel_imaging)
