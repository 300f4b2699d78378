#pragma once
// The picture velloq-host hands the plug-in and its codecs read and write:
// the host kit's picture, with no books, deleted by its last Release, its
// pixels in memory that comes zeroed and large pictures in huge pages
// (picture_memory.hpp).

#include "host_kit/picture.hpp"
#include "refhost/pictures/picture_memory.hpp"

using velloq_host_policy =
    host_kit::policy<host_kit::lifetime::deleting, false, picture_allocator<Bgra8>>;
using memory_image = host_kit::picture<velloq_host_policy>;
using pixel_vector = memory_image::pixel_vector;
