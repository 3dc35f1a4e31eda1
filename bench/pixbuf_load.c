/* A GTK program's load of a picture, for timing the pixbuf loader in a
 * process of its own: gdk_pixbuf_new_from_file, or
 * gdk_pixbuf_new_from_file_at_size with a SIZE, through the loaders that
 * GDK_PIXBUF_MODULE_FILE names. Prints the pixbuf's size.
 * usage: tessel_pixbuf_load FILE [SIZE] */
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: tessel_pixbuf_load FILE [SIZE]\n");
    return 2;
  }
  GError* error = NULL;
  const int size = argc == 3 ? atoi(argv[2]) : 0;
  GdkPixbuf* pixbuf = size > 0 ? gdk_pixbuf_new_from_file_at_size(argv[1], size, size, &error)
                               : gdk_pixbuf_new_from_file(argv[1], &error);
  if (pixbuf == NULL) {
    fprintf(stderr, "tessel_pixbuf_load: %s\n", error->message);
    g_error_free(error);
    return 1;
  }
  printf("%d x %d, %d channels\n", gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
         gdk_pixbuf_get_n_channels(pixbuf));
  g_object_unref(pixbuf);
  return 0;
}
