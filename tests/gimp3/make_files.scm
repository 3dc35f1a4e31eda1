; Files of XCF versions 14 on, saved by GIMP 3 itself, each beside GIMP 3's
; own flatten of it over black: the pictures tessel must draw. Run by
; scripts/gimp3.sh with OUT set, after common.scm and tests/gimp/modes.scm.
; Each file needs a feature that makes GIMP 3 write a newer version than
; 2.10 could; those of one feature keep to modes whose default space is
; linear light, so that GIMP writes that feature's version and no later
; (GIMP 3's perceptual default of the other modes needs version 23).

; Every mode in a cell of its own over the base, at full and partial
; opacity in turn; `space` is what each cell is blended and composited in
; (#f: the mode's own, which GIMP 3 makes perceptual for many).
(define (mode-grid transparent space)
  (let* ((image (gimp-image-new 320 200 RGB))
         (cell-index 0))
    (base image 320 200 transparent)
    (for-each
      (lambda (mode)
        (let ((layer (cell image (* 40 (modulo cell-index 8)) (* 40 (quotient cell-index 8)) 40
                           (if (even? cell-index) 100 65) mode)))
          (if space
            (begin
              (if (not (member mode (list LAYER-MODE-LCH-HUE LAYER-MODE-LCH-CHROMA LAYER-MODE-LCH-COLOR
                                          LAYER-MODE-LCH-LIGHTNESS)))
                (gimp-layer-set-blend-space layer space))
              (gimp-layer-set-composite-space layer space))))
        (set! cell-index (+ cell-index 1)))
      modern-modes)
    image))

; Text layers (version 19): their rendered pixels are stored.
(define (text)
  (let* ((image (gimp-image-new 200 80 RGB))
         (b (base image 200 80 #f))
         (font (gimp-font-get-by-name "DejaVu Sans Bold")))
    (gimp-context-set-foreground '(255 255 255))
    (let ((one (gimp-text-layer-new image "tessel" font 32 UNIT-PIXEL)))
      (gimp-image-insert-layer image one 0 0)
      (gimp-layer-set-offsets one 8 4))
    (gimp-context-set-foreground '(200 30 90))
    (let ((two (gimp-text-layer-new image "GIMP 3" font 28 UNIT-PIXEL)))
      (gimp-image-insert-layer image two 0 0)
      (gimp-layer-set-offsets two 90 38)
      (gimp-layer-set-mode two LAYER-MODE-MULTIPLY))
    image))

; A layer with two non-destructive filters (versions 20 and 22): a blur
; and levels. `keep`: #f takes them off again, for the picture tessel
; draws (the stored pixels, without them).
(define (filters keep)
  (let* ((image (gimp-image-new 120 90 RGB))
         (b (base image 120 90 #f))
         (sky (cell image 20 10 70 100 LAYER-MODE-NORMAL))
         (blur (gimp-drawable-filter-new sky "gegl:gaussian-blur" ""))
         (levels (gimp-drawable-filter-new sky "gegl:levels" "")))
    (gimp-item-set-name sky "Sky")
    (gimp-drawable-filter-configure blur LAYER-MODE-REPLACE 1.0 "std-dev-x" 6.0 "std-dev-y" 6.0)
    (gimp-drawable-append-filter sky blur)
    (gimp-drawable-filter-configure levels LAYER-MODE-REPLACE 1.0 "out-high" 0.6)
    (gimp-drawable-append-filter sky levels)
    (if (not keep)
      (begin (gimp-drawable-filter-delete blur) (gimp-drawable-filter-delete levels)))
    image))

; Several selected layers (version 14).
(define (selected)
  (let* ((image (gimp-image-new 120 90 RGB))
         (b (base image 120 90 #t))
         (one (cell image 10 10 60 100 LAYER-MODE-MULTIPLY))
         (two (cell image 50 30 60 80 LAYER-MODE-ADDITION)))
    (gimp-image-set-selected-layers image (vector one two))
    image))

; Guides, one off the canvas (version 15).
(define (guides)
  (let* ((image (gimp-image-new 120 90 RGB))
         (b (base image 120 90 #f))
         (one (cell image 30 20 60 100 LAYER-MODE-DARKEN-ONLY)))
    (gimp-image-add-hguide image 45)
    (gimp-image-add-vguide image -20)
    (gimp-image-add-vguide image 140)
    image))

; A layer whose visibility is locked (version 17).
(define (locked)
  (let* ((image (gimp-image-new 120 90 RGB))
         (b (base image 120 90 #t))
         (one (cell image 20 10 60 100 LAYER-MODE-LIGHTEN-ONLY)))
    (gimp-item-set-lock-visibility one #t)
    image))

; A path with a colour tag (version 18: the paths in a third list of
; pointers) and a hidden layer whose visibility is locked.
(define (paths)
  (let* ((image (gimp-image-new 120 90 RGB))
         (b (base image 120 90 #f))
         (one (cell image 20 10 60 100 LAYER-MODE-MULTIPLY))
         (hidden (cell image 0 0 60 100 LAYER-MODE-NORMAL))
         (path (gimp-path-new image "outline")))
    (gimp-image-insert-path image path 0 0)
    (gimp-path-stroke-new-from-points path PATH-STROKE-TYPE-BEZIER
                                      (vector 10 10 10 10 10 10 100 20 100 20 100 20 60 80 60 80 60 80) #t)
    (gimp-item-set-color-tag path COLOR-TAG-BLUE)
    (gimp-item-set-visible hidden #f)
    (gimp-item-set-lock-visibility hidden #t)
    image))

; Groups: nested, masked, pass-through, in GIMP 3's default spaces.
(define (groups)
  (let* ((image (gimp-image-new 200 140 RGB))
         (b (base image 200 140 #f))
         (outer (new-group image 0 0 "outer" 85 LAYER-MODE-NORMAL))
         (o1 (cell image 10 10 70 100 LAYER-MODE-NORMAL))
         (inner (new-group image outer 0 "inner" 100 LAYER-MODE-OVERLAY)))
    (gimp-image-reorder-item image o1 outer 0)
    (let ((i1 (cell image 30 30 60 100 LAYER-MODE-SCREEN))
          (i2 (cell image 50 20 50 100 LAYER-MODE-SOFTLIGHT)))
      (gimp-image-reorder-item image i1 inner 0)
      (gimp-image-reorder-item image i2 inner 1))
    (let* ((masked (new-group image 0 0 "masked" 100 LAYER-MODE-NORMAL))
           (m1 (cell image 100 10 80 100 LAYER-MODE-NORMAL))
           (m2 (cell image 120 40 60 100 LAYER-MODE-DIFFERENCE)))
      (gimp-image-reorder-item image m1 masked 0)
      (gimp-image-reorder-item image m2 masked 0)
      (let ((m (gimp-layer-create-mask masked ADD-MASK-WHITE)))
        (gimp-layer-add-mask masked m)
        (gradient m '(255 255 255) '(40 40 40) 0 0 0 90)))
    (let* ((pass (new-group image 0 0 "pass" 100 LAYER-MODE-PASS-THROUGH))
           (p1 (cell image 10 80 60 100 LAYER-MODE-GRAIN-MERGE))
           (p2 (cell image 40 90 60 100 LAYER-MODE-VIVID-LIGHT)))
      (gimp-image-reorder-item image p1 pass 0)
      (gimp-image-reorder-item image p2 pass 0))
    image))

(define (both make name)
  (save (make) (string-append name ".xcf"))
  (expect (make) (string-append name ".xcf")))

(both (lambda () (mode-grid #f LAYER-COLOR-SPACE-RGB-PERCEPTUAL)) "gimp3-modes-perceptual")
(both (lambda () (mode-grid #t LAYER-COLOR-SPACE-RGB-PERCEPTUAL)) "gimp3-modes-perceptual-transparent")
(both (lambda () (mode-grid #f #f)) "gimp3-modes-default")
(both (lambda () (mode-grid #t #f)) "gimp3-modes-default-transparent")
(both text "gimp3-text")
(save (filters #t) "gimp3-filters.xcf")
(expect (filters #f) "gimp3-filters.xcf")
(expect (filters #t) "gimp3-filters-applied.xcf")
(both selected "gimp3-selected")
(both locked "gimp3-locked")
(both guides "gimp3-guides")
(both paths "gimp3-paths")
(both groups "gimp3-groups")
; GIMP 3 compresses by the name: the same document as .xcf.xz.
(gimp-file-save RUN-NONINTERACTIVE (groups) (string-append OUT "/gimp3-groups.xcf.xz") -1)
(gimp-quit 0)
