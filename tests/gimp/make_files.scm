; Small XCF files saved by GIMP itself, so that the reader meets the format
; as GIMP writes it and not only as tessel's own test writer does. Run by
; scripts/gimp-files.sh (GIMP 2.10 in batch mode) with OUT set to the folder.
; Only the legacy layer modes are used, behind aside: they keep the files
; at XCF versions 0 to 3, the versions tessel reads (GIMP 2.10 saves legacy
; behind as version 11).

; A filled ellipse in layer coordinates, its edge softened by a blur.
(define (blob image layer colour x y w h blur)
  (let ((ox (car (gimp-drawable-offsets layer))) (oy (cadr (gimp-drawable-offsets layer))))
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE (+ ox x) (+ oy y) w h)
    (gimp-context-set-foreground colour)
    (gimp-drawable-edit-fill layer FILL-FOREGROUND)
    (gimp-selection-none image)
    (if (> blur 0) (plug-in-gauss RUN-NONINTERACTIVE image layer blur blur 0))))

; Saved by the name's extension, so that .gz and .bz2 come out compressed.
(define (save-by-extension image name)
  (let ((path (string-append OUT "/" name)))
    (gimp-file-save RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image)) path path)))

; Groups nested three deep, in several modes and opacities, and a hidden layer.
(define (groups)
  (let* ((image (car (gimp-image-new 160 120 RGB)))
         (base (new-layer image 0 0 RGB-IMAGE "base" 160 120 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (outer (new-group image 0 0 "outer" 80 LAYER-MODE-NORMAL-LEGACY))
         (disc (new-layer image outer 0 RGBA-IMAGE "red disc" 90 90 10 10 100 LAYER-MODE-NORMAL-LEGACY))
         (inner (new-group image outer 0 "inner" 100 LAYER-MODE-MULTIPLY-LEGACY))
         (bar (new-layer image inner 0 RGBA-IMAGE "blue bar" 140 30 10 60 100 LAYER-MODE-SCREEN-LEGACY))
         (green (new-layer image inner 1 RGBA-IMAGE "green blob" 80 80 70 20 70 LAYER-MODE-NORMAL-LEGACY))
         (deepest (new-group image inner 0 "deepest" 60 LAYER-MODE-DIFFERENCE-LEGACY))
         (star (new-layer image deepest 0 RGBA-IMAGE "yellow" 50 50 100 50 100 LAYER-MODE-NORMAL-LEGACY))
         (hidden (new-layer image 0 0 RGBA-IMAGE "hidden" 160 120 0 0 100 LAYER-MODE-NORMAL-LEGACY)))
    (gradient base '(240 240 220) '(40 60 90) 0 0 160 120)
    (gimp-drawable-fill disc FILL-TRANSPARENT)
    (blob image disc '(220 30 30) 5 5 80 80 6)
    (gimp-drawable-fill bar FILL-TRANSPARENT)
    (blob image bar '(30 60 230) 0 0 140 30 0)
    (gimp-drawable-fill green FILL-TRANSPARENT)
    (blob image green '(40 200 60) 10 10 60 60 10)
    (gimp-drawable-fill star FILL-TRANSPARENT)
    (blob image star '(250 230 20) 5 5 40 40 3)
    (gimp-drawable-fill hidden FILL-FOREGROUND)
    (gimp-item-set-visible hidden FALSE)
    image))

; Layer masks: applied, not applied, on a layer without alpha, in a group
; (a mask on a group itself needs XCF version 13).
(define (masks)
  (let* ((image (car (gimp-image-new 160 120 RGB)))
         (base (new-layer image 0 0 RGB-IMAGE "base" 160 120 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (masked (new-layer image 0 0 RGBA-IMAGE "masked" 100 80 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (unapplied (new-layer image 0 0 RGBA-IMAGE "mask off" 60 60 100 0 100 LAYER-MODE-NORMAL-LEGACY))
         (opaque (new-layer image 0 0 RGB-IMAGE "no alpha" 70 50 80 65 85 LAYER-MODE-NORMAL-LEGACY))
         (group (new-group image 0 0 "group" 100 LAYER-MODE-NORMAL-LEGACY))
         (inside (new-layer image group 0 RGBA-IMAGE "inside" 90 90 30 20 100 LAYER-MODE-NORMAL-LEGACY)))
    (gradient base '(20 20 20) '(230 230 230) 0 0 160 0)
    (gradient masked '(250 120 0) '(120 0 250) 0 0 100 80)
    (gradient unapplied '(0 200 200) '(200 0 100) 0 0 0 60)
    (gradient opaque '(255 255 0) '(0 0 255) 0 0 70 50)
    (gimp-drawable-fill inside FILL-TRANSPARENT)
    (blob image inside '(255 255 255) 0 0 90 90 0)
    (let ((m (car (gimp-layer-create-mask masked ADD-MASK-WHITE))))
      (gimp-layer-add-mask masked m)
      (blob image m '(0 0 0) 20 10 60 60 8))
    (let ((m (car (gimp-layer-create-mask unapplied ADD-MASK-BLACK))))
      (gimp-layer-add-mask unapplied m)
      (gimp-layer-set-apply-mask unapplied FALSE))
    (let ((m (car (gimp-layer-create-mask opaque ADD-MASK-WHITE))))
      (gimp-layer-add-mask opaque m)
      (gradient m '(255 255 255) '(0 0 0) 0 0 70 0))
    (let ((m (car (gimp-layer-create-mask inside ADD-MASK-WHITE))))
      (gimp-layer-add-mask inside m)
      (blob image m '(0 0 0) 20 20 60 40 4))
    image))

; Layers reaching past every edge of the canvas, one wholly outside it,
; and one larger than the canvas.
(define (offsets)
  (let* ((image (car (gimp-image-new 160 120 RGB)))
         (big (new-layer image 0 0 RGB-IMAGE "larger than the canvas" 240 200 -40 -50 100 LAYER-MODE-NORMAL-LEGACY))
         (left (new-layer image 0 0 RGBA-IMAGE "over the top left" 60 50 -30 -20 100 LAYER-MODE-NORMAL-LEGACY))
         (right (new-layer image 0 0 RGBA-IMAGE "over the bottom right" 70 64 120 90 100 LAYER-MODE-NORMAL-LEGACY))
         (outside (new-layer image 0 0 RGBA-IMAGE "outside" 40 40 170 -60 100 LAYER-MODE-NORMAL-LEGACY))
         (tall (new-layer image 0 0 RGBA-IMAGE "taller than the canvas" 20 300 70 -90 60 LAYER-MODE-NORMAL-LEGACY)))
    (gradient big '(10 90 40) '(200 240 120) 0 0 240 200)
    (gimp-drawable-fill left FILL-FOREGROUND)
    (blob image left '(200 20 120) 0 0 60 50 0)
    (gimp-drawable-fill right FILL-TRANSPARENT)
    (blob image right '(20 40 220) 0 0 70 64 5)
    (gimp-drawable-fill outside FILL-FOREGROUND)
    (gradient tall '(255 255 255) '(0 0 0) 0 0 0 300)
    image))

; The legacy modes, each a soft blob on a cell of a grid over a gradient.
(define (modes)
  (let* ((image (car (gimp-image-new 240 180 RGB)))
         (base (new-layer image 0 0 RGB-IMAGE "base" 240 180 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (all (list LAYER-MODE-NORMAL-LEGACY LAYER-MODE-DISSOLVE
                    LAYER-MODE-MULTIPLY-LEGACY LAYER-MODE-SCREEN-LEGACY LAYER-MODE-OVERLAY-LEGACY
                    LAYER-MODE-DIFFERENCE-LEGACY LAYER-MODE-ADDITION-LEGACY LAYER-MODE-SUBTRACT-LEGACY
                    LAYER-MODE-DARKEN-ONLY-LEGACY LAYER-MODE-LIGHTEN-ONLY-LEGACY LAYER-MODE-HSV-HUE-LEGACY
                    LAYER-MODE-HSV-SATURATION-LEGACY LAYER-MODE-HSL-COLOR-LEGACY LAYER-MODE-HSV-VALUE-LEGACY
                    LAYER-MODE-DIVIDE-LEGACY LAYER-MODE-DODGE-LEGACY LAYER-MODE-BURN-LEGACY
                    LAYER-MODE-HARDLIGHT-LEGACY LAYER-MODE-SOFTLIGHT-LEGACY LAYER-MODE-GRAIN-EXTRACT-LEGACY
                    LAYER-MODE-GRAIN-MERGE-LEGACY))
         (cell 0))
    (gradient base '(250 200 60) '(30 80 160) 0 0 0 180)
    (for-each
      (lambda (mode)
        (let ((layer (new-layer image 0 0 RGBA-IMAGE "mode" 48 48 (* 48 (modulo cell 5)) (* 36 (quotient cell 5))
                                (if (even? cell) 100 70) mode)))
          (gimp-drawable-fill layer FILL-TRANSPARENT)
          (gradient layer '(255 40 40) '(40 255 200) 0 0 48 48)
          (gimp-image-select-ellipse image CHANNEL-OP-REPLACE (+ 4 (* 48 (modulo cell 5))) (+ 4 (* 36 (quotient cell 5))) 40 40)
          (gimp-selection-invert image)
          (gimp-drawable-edit-clear layer)
          (gimp-selection-none image)
          (set! cell (+ cell 1))))
      all)
    image))

; A 120 x 90 picture of an opaque base and a transparent layer over it:
; (image base top).
(define (base-and-top top-w top-h top-x top-y opacity)
  (let* ((image (car (gimp-image-new 120 90 RGB)))
         (base (new-layer image 0 0 RGB-IMAGE "base" 120 90 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (top (new-layer image 0 0 RGBA-IMAGE "top" top-w top-h top-x top-y opacity LAYER-MODE-NORMAL-LEGACY)))
    (gimp-drawable-fill top FILL-TRANSPARENT)
    (list image base top)))

; An indexed picture: a layer with alpha over one without, offsets.
(define (indexed)
  (let* ((layers (base-and-top 80 60 50 40 100))
         (image (car layers)) (base (cadr layers)) (top (caddr layers)))
    (gradient base '(255 0 0) '(0 0 255) 0 0 120 0)
    (blob image top '(0 255 0) 0 0 80 60 0)
    (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 12 FALSE FALSE "")
    image))

; A grayscale picture with a soft layer and a mask.
(define (gray)
  (let* ((layers (base-and-top 90 70 20 10 80))
         (image (car layers)) (base (cadr layers)) (top (caddr layers)))
    (gradient base '(0 0 0) '(255 255 255) 0 0 0 90)
    (blob image top '(255 255 255) 5 5 80 60 8)
    (let ((m (car (gimp-layer-create-mask top ADD-MASK-WHITE))))
      (gimp-layer-add-mask top m)
      (gradient m '(255 255 255) '(0 0 0) 0 0 90 0))
    (gimp-image-convert-grayscale image)
    image))

(save-by-extension (groups) "groups.xcf")
(save-by-extension (groups) "groups.xcf.gz")
(save-by-extension (masks) "masks.xcf")
(save-by-extension (masks) "masks.xcf.bz2")
(save-by-extension (offsets) "offsets.xcf")
(save-by-extension (modes) "legacy-modes.xcf")
(save-by-extension (indexed) "indexed.xcf")
(save-by-extension (gray) "gray.xcf")
(gimp-quit 0)
