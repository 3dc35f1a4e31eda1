; GIMP 2.10's picture of a file with its transparency: the image's "New
; from Visible" layer, converted to 8-bit gamma (without dithering) and
; exported as PNG beside the flatten over black, as expected/NAME.visible.png.
; scripts/gimp-files.sh calls (visible NAME) for every file of a folder,
; with OUT set to it.
(define (visible name)
  (let* ((path (string-append OUT "/" name))
         (out (string-append OUT "/expected/" name ".visible.png"))
         (image (car (gimp-file-load RUN-NONINTERACTIVE path name)))
         (layer (car (gimp-layer-new-from-visible image image "visible"))))
    (gimp-image-insert-layer image layer 0 0)
    (if (not (= (car (gimp-image-get-precision image)) PRECISION-U8-GAMMA))
      (gimp-image-convert-precision image PRECISION-U8-GAMMA))
    (file-png-save2 RUN-NONINTERACTIVE image layer out out 0 9 0 0 0 0 0 0 0)
    (gimp-image-delete image)))
