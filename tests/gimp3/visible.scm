; GIMP 3's picture of a file with its transparency: the image's "New from
; Visible" layer alone, converted to 8-bit gamma (without dithering) and
; exported as PNG beside the flatten over black, as expected/NAME.visible.png;
; a top-level layer's non-destructive filters taken off first, as tessel
; draws the pixels stored without them.
; scripts/gimp3.sh calls (visible NAME) for every file of a folder, with
; OUT set to it.
(define (visible name)
  (let* ((path (string-append OUT "/" name))
         (out (string-append OUT "/expected/" name ".visible.png"))
         (image (gimp-file-load RUN-NONINTERACTIVE path))
         (layers (gimp-image-get-layers image))
         (unfiltered (let loop ((i 0))
                       (when (< i (vector-length layers))
                         (let ((filters (gimp-drawable-get-filters (vector-ref layers i))))
                           (let each ((k 0))
                             (when (< k (vector-length filters))
                               (gimp-drawable-filter-delete (vector-ref filters k))
                               (each (+ k 1)))))
                         (loop (+ i 1)))))
         (layer (gimp-layer-new-from-visible image image "visible")))
    (gimp-image-insert-layer image layer 0 0)
    (let loop ((i 0))
      (when (< i (vector-length layers))
        (gimp-image-remove-layer image (vector-ref layers i))
        (loop (+ i 1))))
    (if (not (= (gimp-image-get-precision image) PRECISION-U8-NON-LINEAR))
      (gimp-image-convert-precision image PRECISION-U8-NON-LINEAR))
    (gimp-file-save RUN-NONINTERACTIVE image out -1)
    (gimp-image-delete image)))
