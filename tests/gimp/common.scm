; What both batch scripts of tests/gimp build their pictures with;
; scripts/gimp-files.sh runs it before each.

(define (new-layer image parent position type name w h x y opacity mode)
  (let ((layer (car (gimp-layer-new image w h type name opacity mode))))
    (gimp-image-insert-layer image layer parent position)
    (gimp-layer-set-offsets layer x y)
    layer))

(define (new-group image parent position name opacity mode)
  (let ((group (car (gimp-layer-group-new image))))
    (gimp-image-insert-layer image group parent position)
    (gimp-item-set-name group name)
    (gimp-layer-set-opacity group opacity)
    (gimp-layer-set-mode group mode)
    group))

(define (gradient drawable from to x1 y1 x2 y2)
  (gimp-context-set-foreground from)
  (gimp-context-set-background to)
  (gimp-context-set-gradient-fg-bg-rgb)
  (gimp-drawable-edit-gradient-fill drawable GRADIENT-LINEAR 0 FALSE 1 0 FALSE x1 y1 x2 y2))
